// UpdateCPLD: writes a new logic image into the programmable logic device of a
// first-generation scanner. After the end byte the scanner restarts by itself,
// so the engine waits for nothing and leaves the reconnection to the
// programming sequence.
#include "link/comm_dialog.h"
#include "link/line_watch.h"
#include "update/engine_frame.h"
#include "update/engines.h"

namespace {
constexpr MenuPrompt kCpldMenu{"3", 2000, Expect{.success = {"CPLD update menu", "Execute"}}};
constexpr MenuPrompt kCpldExecute{"1", 2000, Expect{.success = {"Execute", "receive"}}};
}  // namespace

UpdateStatus UpdateCPLD(CCommDialog* panel, const RunSettings& run, StepReport& report) {
  UpdateStatus result = EngineLinkCheck(panel);
  if (result != UPD_OK) return result;

  result = EngineMenuStep(panel, kCpldMenu, false);
  if (result == UPD_TIMEOUT || result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;

  // An abort while waiting for "Execute" is not caught here: the stream step
  // sees the abort request and sends nothing.
  result = EngineMenuStep(panel, kCpldExecute, true);
  if (result == UPD_TIMEOUT || result == UPD_LINK_DOWN) return result;

  result = EngineStreamStep(panel, run.cpldFile, "PLD", &report);
  if (result != UPD_OK) return result;

  // After its end byte the scanner restarts by design: its banner is what
  // the programming sequence waits for next.
  WatchForRestart(panel, false);
  result = EngineEndByte(panel);
  if (result != UPD_OK) return result;

  // The scanner now restarts with its new logic; the handshake that finds it
  // again tells the operator to wait for the auto-connect.
  panel->m_nReconnectPhase = 1;
  panel->m_progress.SetPos(0);
  panel->ShowStatus("PLD Done");
  return UPD_OK;
}

UpdateStatus UpdateCPLD(CCommDialog* panel, const RunSettings& run) {
  StepReport report;
  return UpdateCPLD(panel, run, report);
}
