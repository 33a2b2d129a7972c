// UpdateUIM: writes a new UIM agent into an MV2 scanner; the loader's return
// to its menu marks the end of the update.
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/response.h"
#include "platform/message_box.h"
#include "update/engine_frame.h"
#include "update/engines.h"

namespace {
constexpr MenuPrompt kUimMenu{"8", 1000, Expect{.success = {"UIM Agent Update", "abort"}}};
constexpr uint32_t kUimDoneMs = 10000;
}  // namespace

UpdateStatus UpdateUIM(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  UpdateStatus result = EngineLinkCheck(session, reporter);
  if (result != UPD_OK) return result;

  result = EngineMenuStep(session, reporter, kUimMenu, false);
  if (result == UPD_TIMEOUT || result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;

  result = EngineStreamStep(session, reporter, run.uimFile, "UIM", &report);
  if (result != UPD_OK) return result;

  result = EngineEndByte(session, reporter);
  if (result != UPD_OK) return result;

  result = EngineAwaitCompletion(session, kUimDoneMs, "Loader menu");
  reporter.EndFlashWrite();
  if (result != UPD_OK) {
    // A line fault is reported by the programming sequence.
    if (result != UPD_LINK_DOWN) reporter.ShowError("UIM update failed");
    return result;
  }
  reporter.SetProgressPos(0);
  reporter.ShowStatus("UIM Done");
  return UPD_OK;
}

UpdateStatus UpdateUIM(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  StepReport report;
  return UpdateUIM(session, reporter, run, report);
}
