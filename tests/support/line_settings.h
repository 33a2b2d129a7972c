// The line settings the station fixes on every port (57600 8N1, binary, CTS
// output flow control, DTR on, RTS handshake, the 28-byte DCB length), as the
// serial port tests of every backend give them to a port and expect them back.
#pragma once

#include "platform/serial_port.h"

namespace testsupport {

inline platform::LineSettings StationLineSettings() {
  platform::LineSettings s{};
  s.DCBlength = 28;
  s.BaudRate = 57600;
  s.fBinary = 1;
  s.fOutxCtsFlow = 1;
  s.fDtrControl = platform::DTR_CONTROL_ENABLE;
  s.fRtsControl = platform::RTS_CONTROL_HANDSHAKE;
  s.ByteSize = 8;
  s.Parity = platform::NOPARITY;
  s.StopBits = platform::ONESTOPBIT;
  return s;
}

}  // namespace testsupport
