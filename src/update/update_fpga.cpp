// UpdateFPGA: writes a new configuration into the FPGA of an MV2 scanner and
// waits for the loader to report that it has been programmed.
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/response.h"
#include "platform/message_box.h"
#include "update/engine_frame.h"
#include "update/engines.h"

namespace {
constexpr MenuPrompt kFpgaMenu{"3", 2000, Expect{.success = {"FPGA Update", "abort"}}};
constexpr uint32_t kFpgaDoneMs = 20000;
}  // namespace

UpdateStatus UpdateFPGA(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  UpdateStatus result = EngineLinkCheck(session, reporter);
  if (result != UPD_OK) return result;

  result = EngineMenuStep(session, reporter, kFpgaMenu, false);
  if (result == UPD_TIMEOUT || result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;

  result = EngineStreamStep(session, reporter, run.fpgaFile, "FPGA", &report);
  if (result != UPD_OK) return result;

  result = EngineEndByte(session, reporter);
  if (result != UPD_OK) return result;

  reporter.SetProgressPos(0);
  reporter.ShowStatus("FPGA Programming...");

  result = EngineAwaitCompletion(session, kFpgaDoneMs, "Done!");
  // The logic is written (or given up): Reset is available again, as after
  // every other component, so an operator's stop need not wait for the next
  // end byte.
  if (result == UPD_OK) reporter.EndFlashWrite();
  if (result == UPD_TIMEOUT) {
    reporter.ShowError("No response");
    return UPD_TIMEOUT;
  }
  // Only the completion text itself is success; a wait that ended any other
  // way (the line watch, a failed event wait) is passed on.
  return result;
}

UpdateStatus UpdateFPGA(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  StepReport report;
  return UpdateFPGA(session, reporter, run, report);
}
