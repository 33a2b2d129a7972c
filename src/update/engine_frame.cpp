#include "update/engine_frame.h"

#include "update/file_send.h"
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/line_watch.h"
#include "link/response.h"
#include "platform/message_box.h"

UpdateStatus EngineLinkCheck(PortSession& session, RunReporter& reporter) {
  session.m_hDataEvent->Reset();
  uint32_t status = 0;
  platform::PortPtr port = session.m_hPort.Get();
  if (!port || !port->GetCommModemStatus(status)) {
    // A vanished device has been reported as such.
    if (port && IsDeviceGoneError(port->LastError())) {
      NoteLineFault(session, reporter, kLineDeviceGone);
      return UPD_LINK_DOWN;
    }
    reporter.ShowError("GetCommModemStatus error");
    return UPD_MODEM_STATUS_ERROR;
  }
  session.m_bCts = status & platform::MS_CTS_ON;
  session.m_bDsr = status & platform::MS_DSR_ON;
  if (!session.m_bCts || !session.m_bDsr) {
    reporter.ShowError("Link down (CTS and DSR)");
    return UPD_LINK_DOWN;
  }
  return UPD_OK;
}

UpdateStatus EngineWriteKey(PortSession& session, RunReporter& reporter, uint8_t key) {
  if (WritePort(session.m_hPort, &key, 1)) return UPD_OK;
  // The write fails only when the port is closed or the device is gone. Going
  // on would leave the engine waiting for prompts that cannot come, or (after
  // the end byte) report a transfer the loader never saw the end of.
  if (session.m_bAbort) return UPD_ABORTED;
  if (!NoteFailedWrite(session, reporter)) reporter.ShowError("Link down (CTS and DSR)");
  return UPD_LINK_DOWN;
}

UpdateStatus EngineTypeKey(PortSession& session, RunReporter& reporter, uint8_t key) {
  const UpdateStatus settled = SettleBeforeKey(session);
  if (settled != UPD_OK) return settled;
  return EngineWriteKey(session, reporter, key);
}

UpdateStatus EngineTypeText(PortSession& session, RunReporter& reporter, const char* text, size_t length) {
  if (length == 0) return UPD_OK;
  UpdateStatus result = SettleBeforeKey(session);
  for (size_t i = 0; result == UPD_OK && i < length; ++i) {
    result = EngineWriteKey(session, reporter, static_cast<uint8_t>(text[i]));
  }
  return result;
}

UpdateStatus EngineMenuStep(PortSession& session, RunReporter& reporter, const MenuPrompt& prompt, bool resetFirst) {
  (void)resetFirst;
  UpdateStatus result = EngineTypeKey(session, reporter, static_cast<uint8_t>(prompt.key[0]));
  if (result != UPD_OK) return result;
  result = WaitForPair(session, prompt.timeoutMs, prompt.expect);
  if (result == UPD_TIMEOUT) reporter.ShowError("No response");
  return result;
}

UpdateStatus EngineStreamStep(PortSession& session, RunReporter& reporter, const std::string& path, const char* tag,
                              StepReport* report) {
  session.m_bRxActive = false;
  WatchForBanner(session, true);
  return SendFile(session, reporter, path, tag, report != nullptr ? &report->sha256 : nullptr);
}

UpdateStatus EngineEndByte(PortSession& session, RunReporter& reporter) {
  // A completion text counts only when it follows this end byte: whatever
  // the loader said before it is no answer to it. The receiver dropped what
  // came while forwarding was off; what comes from now on is collected, and
  // the settling drops all of it that belongs to before the end byte.
  session.m_bRxActive = true;
  UpdateStatus settled = SettleBeforeKey(session);
  // A scanner that restarted during the transfer takes no end byte for it.
  if (settled == UPD_OK && CheckLineBetweenBlocks(session, reporter) != UPD_OK) settled = UPD_LINK_DOWN;
  if (settled != UPD_OK) {
    // A port closed by Reset is the operator's stop, not a lost line.
    return session.m_bAbort ? UPD_ABORTED : UPD_LINK_DOWN;
  }
  // From the end byte until the completion text the scanner writes its
  // flash: Reset is unavailable. Against a reset on the operator's behalf
  // (ResetWhenSafe): either that reset closes the port here, and the end
  // byte below fails, or it sees the flash write coming and waits for its end.
  reporter.BeginFlashWrite();
  UpdateStatus result = EngineWriteKey(session, reporter, kEndOfTransfer);
  // Without the end byte the scanner writes nothing, so Reset must not stay
  // greyed as it does during a flash write.
  if (result != UPD_OK) reporter.EndFlashWrite();
  return result;
}

UpdateStatus EngineAwaitCompletion(PortSession& session, uint32_t timeoutMs, const char* text) {
  const UpdateStatus result = WaitForPair(session, timeoutMs, Expect{.success = {text}});
  WatchForBanner(session, false);
  return result;
}
