// Which failures of an open serial port mean that its device has vanished (a
// USB scanner unplugged or switched off, an adapter pulled out), as Windows,
// its USB serial drivers and wine report them.
//
// The Windows port (serial_port_win32.cpp) reports every such failure as
// kErrorDeviceNotConnected, as the POSIX port reports ENODEV, EIO on an open
// tty and a hang-up: the line watch then ends the run at once instead of
// waking a scanner that cannot answer. Codes met while opening a port are not
// classified here: there "access denied" means another program holds it.
#pragma once

#include <cstdint>

namespace platform::win32 {

// One code of the table and why it is there.
struct DeviceGoneCode {
  uint32_t code;
  const char* name;
  const char* why;
};

// Every code that means "device gone" on a port that was open.
const DeviceGoneCode* DeviceGoneCodes(int& count);

// True when a call on an open port that failed with code says its device is
// gone. closedByReset: the program itself closed the port (Reset, teardown)
// and so cancelled the call; an aborted call is then that close, not a
// vanished device.
bool IsDeviceGoneCode(uint32_t code, bool closedByReset);

}  // namespace platform::win32
