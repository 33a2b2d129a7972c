// UpdateFPGA, UpdateUIM, UpdateCPLD and UpdateDSP: the engines that write a
// raw firmware file into one component of the scanner. They share one
// dialogue: the link check, the component's menu key and its prompt, on some
// components a second key that confirms, the file streamed unchanged with its
// component tag, the end byte, and then either the loader's completion text
// or (the logic device of a first-generation scanner) the restart that
// follows by design. What tells the components apart is one row of the table
// below; RunRawComponent runs a row. Called by the programming sequence on a
// port's programming thread.
#include <string>

#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/line_watch.h"
#include "platform/message_box.h"
#include "update/engine_frame.h"
#include "update/engines.h"

namespace {

// How a component takes a completion wait that ended without its text.
enum class CompletionMiss {
  // Reset is available again whatever the wait gave; the failure text is
  // shown unless the line failed (the programming sequence reports that).
  kUpdateFailed,
  // Only a time-out is reported ("No response"), and Reset becomes
  // available again only when the text arrived.
  kNoResponse,
};

struct RawComponent {
  const char* tag;                         // the component tag of the stream
  std::string RunSettings::*file;          // the run's file of the component
  MenuPrompt menu;                         // the component's menu key and its prompt
  const MenuPrompt* confirm = nullptr;     // a second key before the file
  UpdateStatus refusal = UPD_OK;           // what a failure text after it means; UPD_OK: none
  // The scanner restarts by itself after the end byte: no completion text is
  // waited for, and the handshake that finds it again tells the operator to
  // wait for the auto-connect.
  bool restarts = false;
  const char* writingStatus = nullptr;     // shown with the bar at 0 right after the end byte
  uint32_t completionMs = 0;
  const char* completionText = nullptr;
  CompletionMiss miss = CompletionMiss::kUpdateFailed;
  const char* failedText = nullptr;        // for CompletionMiss::kUpdateFailed
  const char* doneStatus = nullptr;        // shown with the bar at 0 on success
};

constexpr MenuPrompt kCpldExecute{"1", 2000, {{"Execute", "receive"}, {nullptr, nullptr}}};
constexpr MenuPrompt kDspConfirm{"y", 8000, {{"Ready", "receive"}, {"RAM Error", nullptr}}};

const RawComponent kFpga{
    .tag = "FPGA",
    .file = &RunSettings::fpgaFile,
    .menu = {"3", 2000, {{"FPGA Update", "abort"}, {nullptr, nullptr}}},
    .writingStatus = "FPGA Programming...",
    .completionMs = 20000,
    .completionText = "Done!",
    .miss = CompletionMiss::kNoResponse,
};

const RawComponent kUim{
    .tag = "UIM",
    .file = &RunSettings::uimFile,
    .menu = {"8", 1000, {{"UIM Agent Update", "abort"}, {nullptr, nullptr}}},
    .completionMs = 10000,
    .completionText = "Loader menu",
    .failedText = "UIM update failed",
    .doneStatus = "UIM Done",
};

const RawComponent kCpld{
    .tag = "PLD",
    .file = &RunSettings::cpldFile,
    .menu = {"3", 2000, {{"CPLD update menu", "Execute"}, {nullptr, nullptr}}},
    .confirm = &kCpldExecute,
    .restarts = true,
    .doneStatus = "PLD Done",
};

const RawComponent kDsp{
    .tag = "DSP",
    .file = &RunSettings::dspFile,
    .menu = {"9", 3000, {{"Programming DSP Flash", nullptr}, {nullptr, nullptr}}},
    .confirm = &kDspConfirm,
    // "RAM Error": the loader's RAM check failed and it takes no code.
    .refusal = UPD_DSP_RAM_ERROR,
    .completionMs = 60000,
    .completionText = "DONE",
    .failedText = "DSP update failed",
    .doneStatus = "DSP Done",
};

// After the end byte: the completion text, or the restart of a scanner that
// takes its new logic.
UpdateStatus FinishTransfer(PortSession& session, RunReporter& reporter, const RawComponent& c) {
  if (c.restarts) {
    session.m_nReconnectPhase = 1;
    return UPD_OK;
  }
  if (c.writingStatus != nullptr) {
    reporter.SetProgressPos(0);
    reporter.ShowStatus(c.writingStatus);
  }
  const UpdateStatus result = EngineAwaitCompletion(session, c.completionMs, c.completionText);
  // The flash write is over (or given up): Reset is available again, so an
  // operator's stop need not wait for the next end byte.
  if (result == UPD_OK || c.miss == CompletionMiss::kUpdateFailed) reporter.EndFlashWrite();
  if (result == UPD_OK) return UPD_OK;
  if (c.miss == CompletionMiss::kNoResponse) {
    if (result == UPD_TIMEOUT) reporter.ShowError("No response");
  } else if (result != UPD_LINK_DOWN) {
    // A line fault is reported by the programming sequence.
    reporter.ShowError(c.failedText);
  }
  // Only the completion text itself is success; a wait that ended any other
  // way (the line watch, a failed event wait) is passed on.
  return result;
}

UpdateStatus RunRawComponent(PortSession& session, RunReporter& reporter, const RawComponent& c, const RunSettings& run,
                             StepReport& report) {
  UpdateStatus result = EngineLinkCheck(session, reporter);
  if (result != UPD_OK) return result;

  result = EngineMenuStep(session, reporter, c.menu, false);
  if (result == UPD_TIMEOUT || result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;

  if (c.confirm != nullptr) {
    // An abort while waiting for the confirmation is not caught here: the
    // stream step sees the abort request and sends nothing.
    result = EngineMenuStep(session, reporter, *c.confirm, true);
    if (result == UPD_FAIL_MATCH && c.refusal != UPD_OK) return c.refusal;
    if (result == UPD_TIMEOUT || result == UPD_LINK_DOWN) return result;
  }

  result = EngineStreamStep(session, reporter, run.*c.file, c.tag, &report);
  if (result != UPD_OK) return result;

  // After its end byte a restarting scanner is expected to show its banner:
  // that is what the programming sequence waits for next.
  if (c.restarts) WatchForRestart(session, false);
  result = EngineEndByte(session, reporter);
  if (result != UPD_OK) return result;

  result = FinishTransfer(session, reporter, c);
  if (result != UPD_OK) return result;
  if (c.doneStatus != nullptr) {
    reporter.SetProgressPos(0);
    reporter.ShowStatus(c.doneStatus);
  }
  return UPD_OK;
}

UpdateStatus RunRawComponent(PortSession& session, RunReporter& reporter, const RawComponent& c, const RunSettings& run) {
  StepReport report;
  return RunRawComponent(session, reporter, c, run, report);
}

}  // namespace

UpdateStatus UpdateFPGA(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  return RunRawComponent(session, reporter, kFpga, run, report);
}

UpdateStatus UpdateFPGA(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  return RunRawComponent(session, reporter, kFpga, run);
}

UpdateStatus UpdateUIM(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  return RunRawComponent(session, reporter, kUim, run, report);
}

UpdateStatus UpdateUIM(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  return RunRawComponent(session, reporter, kUim, run);
}

UpdateStatus UpdateCPLD(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  return RunRawComponent(session, reporter, kCpld, run, report);
}

UpdateStatus UpdateCPLD(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  return RunRawComponent(session, reporter, kCpld, run);
}

UpdateStatus UpdateDSP(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  return RunRawComponent(session, reporter, kDsp, run, report);
}

UpdateStatus UpdateDSP(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  return RunRawComponent(session, reporter, kDsp, run);
}
