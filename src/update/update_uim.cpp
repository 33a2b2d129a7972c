// UpdateUIM: writes a new UIM agent into an MV2 scanner; the loader's return
// to its menu marks the end of the update.
#include "link/comm_dialog.h"
#include "link/response.h"
#include "platform/message_box.h"
#include "update/engine_frame.h"
#include "update/engines.h"

namespace {
constexpr MenuPrompt kUimMenu{"8", 1000, Expect{.success = {"UIM Agent Update", "abort"}}};
constexpr uint32_t kUimDoneMs = 10000;
}  // namespace

UpdateStatus UpdateUIM(CCommDialog* panel, const RunSettings& run, StepReport& report) {
  UpdateStatus result = EngineLinkCheck(panel);
  if (result != UPD_OK) return result;

  result = EngineMenuStep(panel, kUimMenu, false);
  if (result == UPD_TIMEOUT || result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;

  result = EngineStreamStep(panel, run.uimFile, "UIM", &report);
  if (result != UPD_OK) return result;

  result = EngineEndByte(panel);
  if (result != UPD_OK) return result;

  result = EngineAwaitCompletion(panel, kUimDoneMs, "Loader menu");
  panel->EndFlashWrite();
  if (result != UPD_OK) {
    // A line fault is reported by the programming sequence.
    if (result != UPD_LINK_DOWN) ShowError(panel->m_szPortName, "UIM update failed");
    return result;
  }
  panel->m_progress.SetPos(0);
  panel->ShowStatus("UIM Done");
  return UPD_OK;
}

UpdateStatus UpdateUIM(CCommDialog* panel, const RunSettings& run) {
  StepReport report;
  return UpdateUIM(panel, run, report);
}
