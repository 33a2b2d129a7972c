// CPanelHost: what a port panel needs from the window that holds it, without
// the panel knowing that window. The main window (CProgrammerDlg) implements
// it; a panel reaches it through m_pMainDlg.
#pragma once

#include <functional>
#include <string>

class CCommDialog;

// The routine a panel's programming thread runs for one press of its port
// button; its result is the run's result.
using ProgrammingRoutine = std::function<int(CCommDialog*)>;

class CPanelHost {
 public:
  // The programming routine for a run that starts now.
  virtual ProgrammingRoutine GetProgrammingRoutine() = 0;
  // The folder the traffic logs go into, read each time a log file is made.
  virtual std::string GetLogFolder() const = 0;

 protected:
  ~CPanelHost() = default;
};
