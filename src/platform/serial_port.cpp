// Who opens a port name: the operating system's backend, or an opener a test
// or the demo installed; and, on POSIX, which device a program port name
// leads to.
#include "platform/serial_port.h"

#include <cctype>
#include <mutex>

#include "platform/message_box.h"

namespace platform {
namespace {

// Guards g_opener and g_portMap: both are replaced on the window thread
// (configuration, tests) while port threads may be opening ports.
std::mutex g_mutex;
PortOpener g_opener;
std::function<std::string(const std::string&)> g_portMap;

// The number n of "COMn" (any case), or 0 when the name is not of that form.
unsigned ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 8) return 0;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  unsigned n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    n = n * 10 + static_cast<unsigned>(name[i] - '0');
  }
  return n;
}

}  // namespace

void InstallPortOpener(PortOpener opener) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_opener = std::move(opener);
}

PortPtr OpenSerialPort(const std::string& name, int& error, std::string& why) {
  PortOpener opener;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    opener = g_opener;
  }
  error = 0;
  why.clear();
  PortPtr port = opener ? opener(name, error) : OpenNativeSerialPort(name, error, why);
  if (port) {
    why.clear();
    return port;
  }
  if (error == 0) error = kErrorFileNotFound;
  if (why.empty()) why = SystemErrorText(error);
  return port;
}

PortPtr OpenSerialPort(const std::string& name, int& error) {
  std::string why;
  return OpenSerialPort(name, error, why);
}

PortPtr OpenNativeSerialPort(const std::string& name, int& error) {
  std::string why;
  return OpenNativeSerialPort(name, error, why);
}

void SetPortMap(const std::function<std::string(const std::string& name)>& lookup) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_portMap = lookup;
}

std::string DevicePathFor(const std::string& name) {
  const std::string bare = WithoutDevicePrefix(name);

  std::function<std::string(const std::string&)> lookup;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    lookup = g_portMap;
  }
  if (lookup) {
    std::string mapped = lookup(bare);
    if (!mapped.empty()) return mapped;
  }
  // A device path given as it stands leads to itself.
  if (!bare.empty() && bare[0] == '/') return bare;
  // The serial ports built into a PC: COM1 is the first of them.
  if (unsigned n = ComNumber(bare); n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
  return std::string();
}

}  // namespace platform
