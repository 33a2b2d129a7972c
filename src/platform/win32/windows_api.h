// The Windows API for the files of this backend.
//
// Include it after the platform headers. <windows.h> defines the serial
// constants that serial_port.h also defines (MS_CTS_ON, EV_RXCHAR, NOPARITY,
// RTS_CONTROL_HANDSHAKE ...) as macros of the same values; included first it
// would turn those constexpr definitions into nonsense. Included last, the
// names in this backend simply expand to the system's values, which are the
// same numbers.
//
// winuser.h is left out: it declares a MessageBeep of its own, which clashes
// with the program's message_box.h, and this backend needs nothing from it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef NOUSER
#define NOUSER
#endif
#include <windows.h>
