// The scanner handshake: wake the loader, read its banner, set the panel's
// family, loader version and (MV2) board version. Called by the programming
// thread and by a USB panel's connect thread.
#pragma once

#include "link/update_status.h"

class CCommDialog;

// UPD_OK once identified, UPD_ABORTED when the port is told to stop. The
// operator text shown while the scanner is awaited follows the panel's
// m_nReconnectPhase.
UpdateStatus IdentifyScanner(CCommDialog* panel);

// Connect thread of a USB panel: identifies the scanner once and ends.
int connectProc(CCommDialog* panel);
