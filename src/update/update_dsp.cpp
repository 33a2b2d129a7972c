// UpdateDSP: writes new DSP code into the DSP flash of a first-generation
// scanner. The loader checks its RAM before it takes the code and may refuse
// with "RAM Error"; after the end byte it needs up to a minute to write.
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/response.h"
#include "platform/message_box.h"
#include "update/engine_frame.h"
#include "update/engines.h"

namespace {
constexpr MenuPrompt kDspMenu{"9", 3000, Expect{.success = {"Programming DSP Flash"}}};
constexpr MenuPrompt kDspConfirm{"y", 8000,
                                 Expect{.success = {"Ready", "receive"}, .failure = {"RAM Error"}}};
constexpr uint32_t kDspDoneMs = 60000;
}  // namespace

UpdateStatus UpdateDSP(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  UpdateStatus result = EngineLinkCheck(session, reporter);
  if (result != UPD_OK) return result;

  result = EngineMenuStep(session, reporter, kDspMenu, false);
  if (result == UPD_TIMEOUT || result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;

  result = EngineMenuStep(session, reporter, kDspConfirm, true);
  if (result == UPD_FAIL_MATCH) return UPD_DSP_RAM_ERROR;
  if (result == UPD_TIMEOUT || result == UPD_LINK_DOWN) return result;

  result = EngineStreamStep(session, reporter, run.dspFile, "DSP", &report);
  if (result != UPD_OK) return result;

  result = EngineEndByte(session, reporter);
  if (result != UPD_OK) return result;

  result = EngineAwaitCompletion(session, kDspDoneMs, "DONE");
  // The flash write is over (or given up): Reset is available again.
  reporter.EndFlashWrite();
  if (result != UPD_OK) {
    // A line fault is reported by the programming sequence.
    if (result != UPD_LINK_DOWN) reporter.ShowError("DSP update failed");
    return result;
  }
  reporter.SetProgressPos(0);
  reporter.ShowStatus("DSP Done");
  return UPD_OK;
}

UpdateStatus UpdateDSP(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  StepReport report;
  return UpdateDSP(session, reporter, run, report);
}
