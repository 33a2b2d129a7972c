// UpdateCPLD: writes a new logic image into the programmable logic device of a
// first-generation scanner. After the end byte the scanner restarts by itself,
// so the engine waits for nothing and leaves the reconnection to the
// programming sequence.
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/line_watch.h"
#include "update/engine_frame.h"
#include "update/engines.h"

namespace {
constexpr MenuPrompt kCpldMenu{"3", 2000, Expect{.success = {"CPLD update menu", "Execute"}}};
constexpr MenuPrompt kCpldExecute{"1", 2000, Expect{.success = {"Execute", "receive"}}};
}  // namespace

UpdateStatus UpdateCPLD(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  UpdateStatus result = EngineLinkCheck(session, reporter);
  if (result != UPD_OK) return result;

  result = EngineMenuStep(session, reporter, kCpldMenu, false);
  if (result == UPD_TIMEOUT || result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;

  // An abort while waiting for "Execute" is not caught here: the stream step
  // sees the abort request and sends nothing.
  result = EngineMenuStep(session, reporter, kCpldExecute, true);
  if (result == UPD_TIMEOUT || result == UPD_LINK_DOWN) return result;

  result = EngineStreamStep(session, reporter, run.cpldFile, "PLD", &report);
  if (result != UPD_OK) return result;

  // After its end byte the scanner restarts by design: its banner is what
  // the programming sequence waits for next.
  WatchForRestart(session, false);
  result = EngineEndByte(session, reporter);
  if (result != UPD_OK) return result;

  // The scanner now restarts with its new logic; the handshake that finds it
  // again tells the operator to wait for the auto-connect.
  session.m_nReconnectPhase = 1;
  reporter.SetProgressPos(0);
  reporter.ShowStatus("PLD Done");
  return UPD_OK;
}

UpdateStatus UpdateCPLD(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  StepReport report;
  return UpdateCPLD(session, reporter, run, report);
}
