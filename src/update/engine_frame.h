// The engine frame shared by the component engines: the link check before
// anything is typed, a menu step (key, then the loader's prompt), the stream
// step that sends a raw firmware file, and the end byte that closes a
// transfer. Used by the CPLD, FPGA, DSP, UIM agent, loader and image engines
// on a port's programming thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/response.h"
#include "link/update_status.h"
#include "update/step_report.h"

class PortSession;
class RunReporter;

// The byte that ends every transfer to the loader.
constexpr uint8_t kEndOfTransfer = 0xFF;

// Resets the data event, reads the modem status into m_bCts and m_bDsr and
// requires both lines high. "GetCommModemStatus error" / UPD_MODEM_STATUS_ERROR,
// "Link down (CTS and DSR)" / UPD_LINK_DOWN.
UpdateStatus EngineLinkCheck(PortSession& session, RunReporter& reporter);

// Writes one key byte. A write that fails means the port was closed under us:
// UPD_ABORTED quietly when the port was told to stop, otherwise the scanner has
// gone ("Link down (CTS and DSR)", UPD_LINK_DOWN).
UpdateStatus EngineWriteKey(PortSession& session, RunReporter& reporter, uint8_t key);

// Types a key whose answer a wait will look for: lets the line settle first
// (SettleBeforeKey), so that nothing the loader said before the key can
// answer it, then writes the key as EngineWriteKey does.
UpdateStatus EngineTypeKey(PortSession& session, RunReporter& reporter, uint8_t key);
// The same for a text typed as one answer (a dump address and its CR): the
// line settles once, before the first character.
UpdateStatus EngineTypeText(PortSession& session, RunReporter& reporter, const char* text, size_t length);

// A menu step: the key typed and what the loader answers to it.
struct MenuPrompt {
  const char* key;  // one byte
  uint32_t timeoutMs;
  Expect expect;
};

// Types the key (EngineTypeKey; resetFirst is kept for the callers and has no
// further effect: the settling before the key resets the data event) and
// waits for the prompt. A time-out shows "No response". Returns the wait's
// result for the engine to act on (UPD_LINK_DOWN/UPD_ABORTED if the key could
// not be written).
UpdateStatus EngineMenuStep(PortSession& session, RunReporter& reporter, const MenuPrompt& prompt, bool resetFirst);

// Stops the receiver from collecting what the loader says during the
// transfer, arms the banner watch (a restart from here to the completion
// text fails the step), then takes the file whole and streams that copy
// unchanged with its component tag. report, when given, gets the digest of
// the bytes sent.
UpdateStatus EngineStreamStep(PortSession& session, RunReporter& reporter, const std::string& path, const char* tag,
                              StepReport* report = nullptr);

// Closes a transfer: makes Reset unavailable while the scanner writes its
// flash, lets the receiver collect again, lets the line settle and drops what
// came before (a completion text counts only after this end byte), checks
// the line once more and writes 0xFF. UPD_LINK_DOWN without writing when the
// scanner restarted during the transfer.
UpdateStatus EngineEndByte(PortSession& session, RunReporter& reporter);

// Waits for the completion text of a transfer, then disarms the banner watch:
// from here on the scanner's banner is no sign of a restart under the step.
UpdateStatus EngineAwaitCompletion(PortSession& session, uint32_t timeoutMs, const char* text);
