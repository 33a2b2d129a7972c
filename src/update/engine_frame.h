// The engine frame shared by the component engines: the link check before
// anything is typed, a menu step (key, then the loader's prompt), the stream
// step that sends a raw firmware file, and the end byte that closes a
// transfer. Used by the CPLD, FPGA, DSP, UIM agent, loader and image engines
// on a port's programming thread.
#pragma once

#include <cstdint>
#include <string>

#include "link/update_status.h"
#include "update/step_report.h"

class CCommDialog;

// The byte that ends every transfer to the loader.
constexpr uint8_t kEndOfTransfer = 0xFF;

// Resets the data event, reads the modem status into m_bCts and m_bDsr and
// requires both lines high. "GetCommModemStatus error" / UPD_MODEM_STATUS_ERROR,
// "Link down (CTS and DSR)" / UPD_LINK_DOWN.
UpdateStatus EngineLinkCheck(CCommDialog* panel);

// Writes one key byte. A write that fails means the port was closed under us:
// UPD_ABORTED quietly when the port was told to stop, otherwise the scanner has
// gone ("Link down (CTS and DSR)", UPD_LINK_DOWN).
UpdateStatus EngineWriteKey(CCommDialog* panel, uint8_t key);

// Texts a menu step waits for; null where a text is not given.
struct MenuPrompt {
  const char* key;  // one byte
  uint32_t timeoutMs;
  const char* successA;
  const char* successB;
  const char* failureA;
  const char* failureB;
};

// Types the key (resetting the data event first when resetFirst is set) and
// waits for the prompt. A time-out shows "No response". Returns the wait's
// result for the engine to act on (UPD_LINK_DOWN/UPD_ABORTED if the key could
// not be written).
UpdateStatus EngineMenuStep(CCommDialog* panel, const MenuPrompt& prompt, bool resetFirst);

// Stops the receiver from collecting what the loader says during the
// transfer, then takes the file whole and streams that copy unchanged with
// its component tag. report, when given, gets the digest of the bytes sent.
UpdateStatus EngineStreamStep(CCommDialog* panel, const std::string& path, const char* tag,
                              StepReport* report = nullptr);

// Closes a transfer: resets the data event, makes Reset unavailable while the
// scanner writes its flash, drops what the ring holds from before (a
// completion text counts only after this end byte), lets the receiver
// collect again, checks the line once more and writes 0xFF. UPD_LINK_DOWN
// without writing when the scanner restarted during the transfer.
UpdateStatus EngineEndByte(CCommDialog* panel);
