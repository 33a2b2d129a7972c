// CPanelHost: what a port panel needs from the window that holds it, without
// the panel knowing that window. The main window (CProgrammerDlg) implements
// it; a panel reaches it through m_pMainDlg.
#pragma once

#include <functional>
#include <string>

#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/scanner_identity.h"

class CCommDialog;

// The routine a panel's programming thread runs for one press of its port
// button, on the panel's session and reporting to the panel; known is the
// identity of the scanner the panel last identified. Its result is the
// run's result.
using ProgrammingRoutine =
    std::function<int(PortSession& session, RunReporter& reporter, const ScannerIdentity& known)>;

class CPanelHost {
 public:
  // The programming routine for a run of this panel that starts now.
  virtual ProgrammingRoutine GetProgrammingRoutine(CCommDialog& panel) = 0;
  // The folder the traffic logs go into, read each time a log file is made.
  virtual std::string GetLogFolder() const = 0;

 protected:
  ~CPanelHost() = default;
};
