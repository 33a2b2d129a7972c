// The line settings the station fixes on every port (57600 8N1, binary, CTS
// output flow control, DTR on, RTS handshake, the 28-byte DCB length), as the
// serial port tests of every backend give them to a port and expect them back.
#pragma once

#include "platform/serial_port.h"

namespace testsupport {

inline platform::LineSettings StationLineSettings() {
  // Unqualified: where the system's headers define these names as macros
  // (Windows), the macros, of the same values, stand in.
  using namespace platform;
  LineSettings s{};
  s.DCBlength = 28;
  s.BaudRate = 57600;
  s.fBinary = 1;
  s.fOutxCtsFlow = 1;
  s.fDtrControl = DTR_CONTROL_ENABLE;
  s.fRtsControl = RTS_CONTROL_HANDSHAKE;
  s.ByteSize = 8;
  s.Parity = NOPARITY;
  s.StopBits = ONESTOPBIT;
  return s;
}

}  // namespace testsupport
