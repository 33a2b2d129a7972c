// What the POSIX serial port checks about a device path before it opens it,
// and how it words a device the user may not open. A port name from the
// [Ports] section, or the built-in /dev/ttyS(n-1) of an unmapped COMn, may
// lead anywhere: to a regular file, a FIFO, /dev/null or a device whose mere
// opening does something. Only a character device that a tty driver serves is
// opened. Called by the backend's opener (serial_port_posix.cpp); the tests
// call the pieces directly.
#pragma once

#include <sys/types.h>

#include <string>

namespace platform::posix {

// Whether the kernel's table of tty drivers (the text of /proc/tty/drivers:
// per line the driver, its device node, the major number, a minor number or
// range "first-last", and the type) has a driver for this device number.
bool TtyDriverTableLists(const std::string& table, unsigned major, unsigned minor);

// Whether the character device with this number is served by a tty driver.
// A system that offers no table of its tty drivers cannot tell before the
// open: there every character device counts, and isatty() on the opened
// descriptor decides.
bool IsTtyDevice(dev_t device);

// The box's words for a device the user may not open while the members of
// the group that owns it may: names that group (by number when the system
// has no name for it), so that the operator knows whom to ask.
std::string NotInDeviceGroupText(const std::string& path, gid_t group);

}  // namespace platform::posix
