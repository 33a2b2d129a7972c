// The firmware steps of one programming run, in the order the scanner needs
// them: the data images first, then the logic device and the DSP code (first
// generation) or the FPGA and UIM agent (MV2), and the boot loader last, since
// a failed loader update leaves nothing to talk to. A step runs only if its
// file is configured and every earlier step succeeded.
#include "update/programming_steps.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "firmware/file_access.h"
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/handshake.h"
#include "link/line_watch.h"
#include "link/response.h"
#include "link/scanner_family.h"
#include "platform/message_box.h"
#include "platform/time.h"
#include "update/engines.h"
#include "update/file_send.h"
#include "update/product_title.h"
#include "platform/path_text.h"

const char* ModelText(ScannerFamily family) { return FamilyRow(family).modelText; }

// The RCP image is built per family; its header tag tells which. The decoded
// header starts with the two zero bytes of the record's address, so the tags
// are searched in the whole buffer rather than as a text.
bool RcpSuitsFamily(const uint8_t* header, ScannerFamily family) {
  const ScannerFamilyRow& row = FamilyRow(family);
  if (row.family == ScannerFamily::kNone) return false;
  const auto carries = [header](const char* tag) {
    return tag != nullptr && FindBytes(header, kRcpHeaderBytes, tag) != nullptr;
  };
  if (row.rcpTag != nullptr) return carries(row.rcpTag);
  // A family without a tag of its own takes the images that carry none of
  // the others'.
  const auto families = ScannerFamilies();
  return std::none_of(families.begin(), families.end(),
                      [&](const ScannerFamilyRow& other) { return carries(other.rcpTag); });
}

std::string RcpRefusalText(ScannerFamily family) {
  char message[256];
  std::snprintf(message, sizeof message, "%s cannot update an %s scanner with this firmware.",
                kProductTitle, ModelText(family));
  return message;
}

namespace {

using Engine = UpdateStatus (*)(PortSession&, RunReporter&, const RunSettings&, StepReport&);

// The file's size as the record gives it: what the system says now, 0 when
// it cannot tell (a missing file, a device).
uint64_t RecordedSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(platform::PathFromText(path), error);
  return error ? 0 : static_cast<uint64_t>(size);
}

// Adds a component to the run's record (when there is one); its index there.
size_t Note(RunRecord* record, const char* component, const std::string& path,
            ComponentOutcome outcome) {
  if (record == nullptr) return 0;
  record->components.push_back(RunComponent{component, path, RecordedSize(path), outcome, {}});
  return record->components.size() - 1;
}

// Runs one engine with the line watch armed: a scanner that restarts in the
// middle of the step, or a device that vanishes, fails the step whatever the
// engine made of the bytes it got.
UpdateStatus RunStep(Engine engine, PortSession& session, RunReporter& reporter,
                     const RunSettings& run, const char* component, const std::string& path,
                     RunRecord* record) {
  // The step goes into the run's record as it begins, with its file's size
  // at that moment, as failed until the engine says otherwise (an exception
  // leaves it so).
  const size_t entry = Note(record, component, path, ComponentOutcome::kFailed);
  StepReport report;
  WatchForRestart(session, true);
  UpdateStatus result = engine(session, reporter, run, report);
  WatchForRestart(session, false);
  switch (CurrentLineFault(session)) {
    case kLineRestarted: {
      char text[128];
      std::snprintf(text, sizeof text, "Scanner restarted during %s update", component);
      reporter.ShowError(text);
      result = UPD_LINK_DOWN;
      break;
    }
    case kLineDeviceGone:
      result = UPD_LINK_DOWN;
      break;
    default:
      break;
  }
  if (record != nullptr) {
    RunComponent& noted = record->components[entry];
    noted.outcome = report.declined    ? ComponentOutcome::kDeclined
                    : result == UPD_OK ? ComponentOutcome::kWritten
                                       : ComponentOutcome::kFailed;
    if (noted.outcome == ComponentOutcome::kWritten) noted.sha256 = report.sha256;
    if (!report.specialBlock.empty()) record->specialBlock = report.specialBlock;
  }
  platform::Sleep(0);
  return result;
}

// The steps of the family's sequence in order, with their files; those
// without a file are not configured.
std::vector<std::pair<const char*, const std::string*>> SequenceOf(const RunSettings& run) {
  if (FamilyRow(run.family).secondGeneration) {
    return {{"RCP", &run.rcpFile}, {"VTC", &run.vtcFile}, {"FPGA", &run.fpgaFile},
            {"UIM", &run.uimFile}, {"LDR", &run.ldrFile}};
  }
  return {{"RCP", &run.rcpFile}, {"VTC", &run.vtcFile}, {"CPLD", &run.cpldFile},
          {"DSP", &run.dspFile}, {"LDR", &run.ldrFile}};
}

// After a failed run: every configured step that never began, in order.
void NoteNotReached(const RunSettings& run, RunRecord* record) {
  if (record == nullptr) return;
  for (const auto& step : SequenceOf(run)) {
    // Plain names: a lambda cannot capture a structured binding on every
    // compiler the fuzz build uses.
    const auto& component = step.first;
    const auto& path = step.second;
    if (path->empty()) continue;
    const bool begun = std::any_of(record->components.begin(), record->components.end(),
                                   [&](const RunComponent& c) { return c.name == component; });
    if (!begun) Note(record, component, *path, ComponentOutcome::kNotReached);
  }
}

UpdateStatus RcpStep(PortSession& session, RunReporter& reporter, const RunSettings& run, RunRecord* record) {
  const ScannerFamily family = run.family;
  uint8_t header[kRcpHeaderBytes] = {};
  UpdateStatus result = ShowReadFault(reporter, ReadHdrStr(run.rcpFile, header, kRcpHeaderBytes));
  if (result == UPD_OK && RcpSuitsFamily(header, family)) {
    return RunStep(UpdateRCP, session, reporter, run, "RCP", run.rcpFile, record);
  }

  Note(record, "RCP", run.rcpFile, ComponentOutcome::kFailed);
  reporter.ShowWarning(RcpRefusalText(family));
  return UPD_REFUSED;
}

// One identification of the restarting scanner after its logic was replaced;
// what it learns goes on with the run (the loader version into the run's
// settings).
UpdateStatus Reconnect(PortSession& session, RunReporter& reporter, ScannerIdentity& identity,
                       RunSettings& run) {
  const Identification found = IdentifyScanner(session, reporter, identity);
  identity = found.identity;
  run.loaderVersion = identity.loaderVersion;
  UpdateStatus result = found.result;
  if (result == UPD_OK && !identity.identified) result = UPD_LINK_DOWN;
  platform::Sleep(0);
  return result;
}

UpdateStatus FirstGenerationSteps(PortSession& session, RunReporter& reporter, RunSettings& run,
                                  ScannerIdentity& identity, RunRecord* record) {
  UpdateStatus result = UPD_OK;
  if (!run.cpldFile.empty()) {
    result = RunStep(UpdateCPLD, session, reporter, run, "CPLD", run.cpldFile, record);
    if (result == UPD_OK) {
      // The scanner restarts by itself with the new logic (the CPLD engine
      // set the phase that tells the operator to wait); then the operator
      // has to cycle its power before the DSP can be reached.
      result = Reconnect(session, reporter, identity, run);
      if (result == UPD_OK) {
        session.m_nReconnectPhase = 3;
        result = Reconnect(session, reporter, identity, run);
      }
    }
  }
  if (result == UPD_OK && !run.dspFile.empty()) {
    result = RunStep(UpdateDSP, session, reporter, run, "DSP", run.dspFile, record);
  }
  return result;
}

UpdateStatus Mv2Steps(PortSession& session, RunReporter& reporter, const RunSettings& run,
                      RunRecord* record) {
  UpdateStatus result = UPD_OK;
  if (!run.fpgaFile.empty()) {
    result = RunStep(UpdateFPGA, session, reporter, run, "FPGA", run.fpgaFile, record);
  }
  if (result == UPD_OK && !run.uimFile.empty()) {
    result = RunStep(UpdateUIM, session, reporter, run, "UIM", run.uimFile, record);
  }
  return result;
}

}  // namespace

UpdateStatus RunProgrammingSteps(PortSession& session, RunReporter& reporter,
                                 const RunSettings& settings, ScannerIdentity& identity,
                                 RunRecord* record) {
  // The steps' copy of the settings, with the loader the scanner runs.
  RunSettings run = settings;
  run.loaderVersion = identity.loaderVersion;
  UpdateStatus result = UPD_OK;

  if (!run.rcpFile.empty()) result = RcpStep(session, reporter, run, record);

  if (result == UPD_OK && !run.vtcFile.empty()) {
    result = RunStep(UpdateVTC, session, reporter, run, "VTC", run.vtcFile, record);
  }

  if (result == UPD_OK) {
    result = FamilyRow(run.family).secondGeneration ? Mv2Steps(session, reporter, run, record)
                                      : FirstGenerationSteps(session, reporter, run, identity, record);
  }

  if (result == UPD_OK && !run.ldrFile.empty()) {
    if (run.permitLoaderOverwrite) {
      result = RunStep(UpdateLDR, session, reporter, run, "LDR", run.ldrFile, record);
    } else {
      Note(record, "LDR", run.ldrFile, ComponentOutcome::kFailed);
      reporter.ShowWarning("Missing permission to overwrite Loader");
      result = UPD_REFUSED;
    }
  }
  if (result != UPD_OK) NoteNotReached(run, record);
  return result;
}
