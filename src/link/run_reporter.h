// RunReporter: where the threads of a port (the receiver, the handshake, the
// programming run and its engines) report to whoever shows the port: status
// text, progress, message boxes with the port's name as caption, the port
// button, the scanner's identity and the run's outcome. Each thread is given
// it as it starts, with the port's session. The port panel (CCommDialog)
// implements it.
//
// A box may hold its thread until the operator closes it; whoever waits for a
// port thread to end releases that thread's boxes first (ScopedBoxRelease,
// platform/message_box.h), so the reporter's boxes never hold up a Reset or
// a teardown.
#pragma once

#include <initializer_list>
#include <string>

#include "link/scanner_identity.h"

class RunReporter {
 public:
  // A step's status text. Dropped once the port has been told to stop: a
  // thread that is only unwinding must not cover the "Reset" the operator
  // just caused.
  virtual void ShowStatus(const std::string& text) = 0;
  // The connect thread's closing texts, shown in order even after the port
  // was told to stop, and after any "Reset" that stopped it.
  virtual void ShowClosingStatus(std::initializer_list<const char*> texts) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressPos(int pos) = 0;

  // Boxes captioned with the port's name ("<name>: Error", "<name>: Warning";
  // the API error box as ShowApiError of platform/message_box.h).
  virtual void ShowError(const std::string& text) = 0;
  virtual void ShowWarning(const std::string& text) = 0;
  virtual void ShowApiError(const std::string& text, int errorCode) = 0;

  // The port button: given back when a run or the connect thread ends.
  virtual void EnablePortButton(bool enable) = 0;
  // The scanner writes its flash from a transfer's end byte until its
  // completion text: BeginFlashWrite as the end byte is about to go,
  // EndFlashWrite once the write has ended (or did not begin after all). The
  // port must not be reset in between; a reset asked for meanwhile is made
  // at either call.
  virtual void BeginFlashWrite() = 0;
  virtual void EndFlashWrite() = 0;

  // What the handshake learnt, each time it learns more.
  virtual void ShowIdentity(const ScannerIdentity& identity) = 0;
  // The UpdateStatus the run ended with, as it shows its outcome.
  virtual void ShowRunResult(int result) = 0;

 protected:
  ~RunReporter() = default;
};
