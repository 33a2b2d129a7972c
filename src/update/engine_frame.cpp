#include "update/engine_frame.h"

#include "firmware/file_access.h"
#include "link/comm_dialog.h"
#include "link/line_watch.h"
#include "link/response.h"
#include "platform/message_box.h"

UpdateStatus EngineLinkCheck(CCommDialog* panel) {
  panel->m_hDataEvent->Reset();
  uint32_t status = 0;
  platform::PortPtr port = panel->m_hPort.Get();
  if (!port || !port->GetCommModemStatus(status)) {
    // A vanished device has been reported as such.
    if (port && IsDeviceGoneError(port->LastError())) {
      NoteLineFault(panel, kLineDeviceGone);
      return UPD_LINK_DOWN;
    }
    ShowError(panel->m_szPortName, "GetCommModemStatus error");
    return UPD_MODEM_STATUS_ERROR;
  }
  panel->m_bCts = status & platform::MS_CTS_ON;
  panel->m_bDsr = status & platform::MS_DSR_ON;
  if (!panel->m_bCts || !panel->m_bDsr) {
    ShowError(panel->m_szPortName, "Link down (CTS and DSR)");
    return UPD_LINK_DOWN;
  }
  return UPD_OK;
}

UpdateStatus EngineWriteKey(CCommDialog* panel, uint8_t key) {
  if (WritePort(panel->m_hPort, &key, 1)) return UPD_OK;
  // The write fails only when the port is closed or the device is gone. Going
  // on would leave the engine waiting for prompts that cannot come, or (after
  // the end byte) report a transfer the loader never saw the end of.
  if (panel->m_bAbort) return UPD_ABORTED;
  if (!NoteFailedWrite(panel)) ShowError(panel->m_szPortName, "Link down (CTS and DSR)");
  return UPD_LINK_DOWN;
}

UpdateStatus EngineTypeKey(CCommDialog* panel, uint8_t key) {
  const UpdateStatus settled = SettleBeforeKey(panel);
  if (settled != UPD_OK) return settled;
  return EngineWriteKey(panel, key);
}

UpdateStatus EngineTypeText(CCommDialog* panel, const char* text, size_t length) {
  if (length == 0) return UPD_OK;
  UpdateStatus result = SettleBeforeKey(panel);
  for (size_t i = 0; result == UPD_OK && i < length; ++i) {
    result = EngineWriteKey(panel, static_cast<uint8_t>(text[i]));
  }
  return result;
}

UpdateStatus EngineMenuStep(CCommDialog* panel, const MenuPrompt& prompt, bool resetFirst) {
  (void)resetFirst;
  UpdateStatus result = EngineTypeKey(panel, static_cast<uint8_t>(prompt.key[0]));
  if (result != UPD_OK) return result;
  result = WaitForPair(panel, prompt.timeoutMs, prompt.expect);
  if (result == UPD_TIMEOUT) ShowError(panel->m_szPortName, "No response");
  return result;
}

UpdateStatus EngineStreamStep(CCommDialog* panel, const std::string& path, const char* tag,
                              StepReport* report) {
  panel->m_bRxActive = false;
  WatchForBanner(panel, true);
  return SendFile(panel, path, tag, report != nullptr ? &report->sha256 : nullptr);
}

UpdateStatus EngineEndByte(CCommDialog* panel) {
  // A completion text counts only when it follows this end byte: whatever
  // the loader said before it is no answer to it. The receiver dropped what
  // came while forwarding was off; what comes from now on is collected, and
  // the settling drops all of it that belongs to before the end byte.
  panel->m_bRxActive = true;
  UpdateStatus settled = SettleBeforeKey(panel);
  // A scanner that restarted during the transfer takes no end byte for it.
  if (settled == UPD_OK && CheckLineBetweenBlocks(panel) != UPD_OK) settled = UPD_LINK_DOWN;
  if (settled != UPD_OK) {
    // A port closed by Reset is the operator's stop, not a lost line.
    return panel->m_bAbort ? UPD_ABORTED : UPD_LINK_DOWN;
  }
  // From the end byte until the completion text the scanner writes its
  // flash: Reset is unavailable. Against a reset on the operator's behalf
  // (ResetWhenSafe): either that reset closes the port here, and the end
  // byte below fails, or it sees the flash write coming and waits for its end.
  panel->BeginFlashWrite();
  UpdateStatus result = EngineWriteKey(panel, kEndOfTransfer);
  // Without the end byte the scanner writes nothing, so Reset must not stay
  // greyed as it does during a flash write.
  if (result != UPD_OK) panel->EndFlashWrite();
  return result;
}

UpdateStatus EngineAwaitCompletion(CCommDialog* panel, uint32_t timeoutMs, const char* text) {
  const UpdateStatus result = WaitForPair(panel, timeoutMs, Expect{.success = {text}});
  WatchForBanner(panel, false);
  return result;
}
