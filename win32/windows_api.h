// <windows.h> for the desktop program's window code, with the user interface
// parts the core's backend leaves out.
//
// The core's message_box.h declares a MessageBeep of the program's own (the
// one every thread calls for its beeps), which clashes with the user32
// function of the same name. Here the system's declaration is renamed out of
// the way, so a file can include both; the system beep itself is reached
// through SystemBeep (system_beep.cpp).
//
// Include it after the core's headers: <windows.h> defines the serial
// constants of serial_port.h (EV_RXCHAR, NOPARITY, ...) as macros, which
// would turn the core's own definitions into nonsense if they came later.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define MessageBeep VtUser32MessageBeepUnused
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <prsht.h>
#undef MessageBeep
