// The serial device map on POSIX systems. There is no system-wide list that
// names the scanners' USB driver, so the configuration file's [Ports] section
// stands in for it: every entry ZEVn whose device node exists right now is a
// USB scanner's port, listed as \Device\ZevSu{n} holding ZEVn, the way the
// driver lists itself on Windows. The RS-232 ports COM1..COM20 whose device
// nodes exist are listed too (as \Device\Serial{n-1}), so that, as on Windows,
// the map is empty only on a machine without any serial port.
#include <cctype>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/device_map.h"
#include "platform/serial_port.h"

namespace platform {
namespace {

bool IsUsbEntry(const std::string& name, std::string& digits) {
  if (name.size() < 4) return false;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "ZEV"[i]) return false;
  }
  digits = name.substr(3);
  return digits.find_first_not_of("0123456789") == std::string::npos;
}

bool NodeExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::exists(std::filesystem::path(path), ec);
}

class PosixDeviceMap : public DeviceMap {
 public:
  std::unique_ptr<DeviceMapKey> Open() override {
    std::vector<std::pair<std::string, std::string>> entries;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      entries = entries_;
    }
    std::vector<std::pair<std::string, std::string>> values;
    for (const auto& [name, path] : entries) {
      std::string digits;
      if (IsUsbEntry(name, digits) && NodeExists(path)) {
        values.emplace_back("\\Device\\ZevSu" + digits, "ZEV" + digits);
      }
    }
    for (int n = 1; n <= 20; ++n) {
      std::string port = "COM" + std::to_string(n);
      if (NodeExists(DevicePathFor(port))) {
        values.emplace_back("\\Device\\Serial" + std::to_string(n - 1), port);
      }
    }
    return std::make_unique<ListedDeviceMapKey>(std::move(values));
  }

  void SetEntries(std::vector<std::pair<std::string, std::string>> entries) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_ = std::move(entries);
  }

 private:
  std::mutex mutex_;  // guards entries_ (set at start-up, read by every scan)
  std::vector<std::pair<std::string, std::string>> entries_;
};

PosixDeviceMap& Instance() {
  static PosixDeviceMap map;
  return map;
}

}  // namespace

DeviceMap& NativeDeviceMap() { return Instance(); }

void SetDeviceMapPorts(std::vector<std::pair<std::string, std::string>> entries) {
  Instance().SetEntries(std::move(entries));
}

}  // namespace platform
