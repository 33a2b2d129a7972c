// UpdateLDR: replaces the scanner's boot loader, the last step of a run. On
// QZ600 and MV2 scanners it first reads the scanner's special block and
// splices it into the new loader image, so the scanner keeps its serial
// number and own data.
#include <cstdint>
#include <string>

#include "firmware/file_access.h"
#include "firmware/loader_image.h"
#include "firmware/sha256.h"
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/line_watch.h"
#include "link/response.h"
#include "link/scanner_family.h"
#include "platform/message_box.h"
#include "update/engine_frame.h"
#include "update/engines.h"
#include "update/file_send.h"

namespace {
constexpr unsigned kSpecialBufferBytes = 100;
constexpr int kDumpAttempts = 3;
constexpr MenuPrompt kLoaderReceive{"a", 1000, Expect{.success = {"Special", "receive"}}};
constexpr uint32_t kFlashWriteMs = 30000;

// A QZ500 loader image has no place for the block.
bool PreservesBlock(const RunSettings& run) {
  return run.preserveSerialNumber && FamilyRow(run.family).loaderKeepsSpecialBlock;
}
}  // namespace

UpdateStatus UpdateLDR(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  const bool preserve = PreservesBlock(run);
  uint8_t block[kSpecialBufferBytes] = {};

  if (preserve) {
    unsigned count = 0;
    for (int attempt = 0; attempt < kDumpAttempts && count != kSpecialBlockBytes; ++attempt) {
      UpdateStatus result = GetSpecialBlock(session, reporter, run, block, kSpecialBufferBytes, &count);
      if (result != UPD_OK) return result;
    }
    if (count != kSpecialBlockBytes) {
      reporter.ShowError("Link or Receive error");
      return UPD_SHORT_BLOCK;
    }
    report.specialBlock.assign(block, block + kSpecialBlockBytes);
  }

  UpdateStatus result = EngineLinkCheck(session, reporter);
  if (result != UPD_OK) return result;

  result = EngineMenuStep(session, reporter, kLoaderReceive, false);
  if (result == UPD_ABORTED || result == UPD_LINK_DOWN || result == UPD_TIMEOUT) return result;
  if (result != UPD_OK) {
    reporter.ShowError("Loader Update: Wait timeout");
    return result;
  }

  const std::string& path = run.ldrFile;
  if (preserve) {
    FileBuffer image;
    result = ShowReadFault(reporter, ReadWholeFile(path, image, &session.m_bAbort));
    if (result == UPD_ABORTED) return result;
    if (result != UPD_OK) {
      reporter.ShowError("Loader Update: Read file failed");
      return result;
    }
    result = ShowReadFault(reporter, InsertSpecialBlock(run.family, image, block, kSpecialBlockBytes));
    if (result != UPD_OK) {
      reporter.ShowError(kLoaderSpliceFailedText);
      return result;
    }
    // The image as sent, special block included; the sending releases it.
    const std::string digest = Sha256Hex(image.data.get(), image.size);
    session.m_bRxActive = false;
    WatchForBanner(session, true);
    result = SendLoaderImage(session, reporter, image);
    if (result == UPD_OK) report.sha256 = digest;
  } else {
    result = EngineStreamStep(session, reporter, path, "LDR", &report);
  }
  if (result != UPD_OK) {
    // A line fault is reported by the programming sequence.
    if (result != UPD_LINK_DOWN) reporter.ShowError("Loader Update: Send failed");
    return result;
  }

  result = EngineEndByte(session, reporter);
  if (result == UPD_OK) {
    result = EngineAwaitCompletion(session, kFlashWriteMs, "Write flash complete");
    if (result == UPD_OK) {
      reporter.SetProgressPos(0);
      reporter.ShowStatus("LDR Done");
    } else if (result != UPD_LINK_DOWN) {
      reporter.ShowError("LDR update failed");
    }
  }
  reporter.EndFlashWrite();
  return result;
}

UpdateStatus UpdateLDR(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  StepReport report;
  return UpdateLDR(session, reporter, run, report);
}
