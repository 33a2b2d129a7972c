// The scanner handshake: wake the loader, read its banner, set the family,
// loader version and (MV2) board version. Called by the programming thread and
// by a USB panel's connect thread.
#pragma once

#include <atomic>

#include "update/update_status.h"

class CCommDialog;

// Selects the operator text an identification shows while it waits:
// 0 power on, 1 logic device programmed, 3 cycle power. One value for all ports.
extern std::atomic<int> g_nReconnectPhase;

// UPD_OK once identified, UPD_ABORTED when the port is told to stop.
UpdateStatus IdentifyScanner(CCommDialog* panel);

// Connect thread of a USB panel: identifies the scanner once and ends.
int connectProc(CCommDialog* panel);
