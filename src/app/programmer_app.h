// CProgrammerApp: the application object. It creates the USB port list before
// the main window opens, so that the ports present at start are known when
// the main window sorts USB ports from RS-232 ports, and deletes it at exit.
// The front end (desktop or command line) owns one and runs the main window
// model between InitInstance and ExitInstance.
#pragma once

#include <memory>

#include "ports/port_list.h"

class CProgrammerApp {
 public:
  // Installs the [Ports] section of ZANDRIC.INI in the current directory
  // (where names lead on POSIX systems) and creates the port list, whose
  // construction scans the device map once.
  void InitInstance();
  // Deletes the port list.
  void ExitInstance();

  std::unique_ptr<CPortList> m_pPortList;
};
