// The system's serial device map: one value per serial port the system knows,
// named after the driver's device object (the scanners' USB driver names its
// devices "\Device\ZevSu..."), holding the port name (COM7, ZEV3).
//
// The port list (ports/port_list.h) scans it to tell the USB driver's ports
// from RS-232 ports and to notice scanners being plugged in.
//
// Backends: win32 reads the registry key HKLM\hardware\devicemap\serialcomm;
// posix lists the configuration file's [Ports] entries whose device node exists
// now (ZEVn as \Device\ZevSu{n}, COMn as \Device\Serial{n-1}); the sim backend
// (sim/device_map_sim.h) lists the simulated USB scanners plugged in now.
// Tests and the demo install the sim map; otherwise the backend's own is used.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Longest value name the scan asks for; longer names cannot be read.
constexpr size_t kMaxDeviceMapNameChars = 16383;

// The device map opened for reading. Its values are those present when it was
// opened; it is closed when destroyed.
class DeviceMapKey {
 public:
  virtual ~DeviceMapKey() = default;
  // Number of values.
  virtual uint32_t ValueCount() const = 0;
  // Name of value `index` (0 .. count-1); false when it cannot be read.
  virtual bool EnumValueName(uint32_t index, std::string& name) const = 0;
  // Reads the text data of the named value into buffer, zero-terminated;
  // false when the value cannot be read or its data and the terminating zero
  // do not fit in capacity bytes (the buffer's content is then undefined).
  virtual bool QueryValue(const std::string& name, char* buffer, size_t capacity) const = 0;
};

// A key over a fixed list of (value name, text data) pairs: what the posix and
// sim backends hand out.
class ListedDeviceMapKey : public DeviceMapKey {
 public:
  explicit ListedDeviceMapKey(std::vector<std::pair<std::string, std::string>> values)
      : values_(std::move(values)) {}
  uint32_t ValueCount() const override { return static_cast<uint32_t>(values_.size()); }
  bool EnumValueName(uint32_t index, std::string& name) const override {
    if (index >= values_.size() || values_[index].first.size() > kMaxDeviceMapNameChars) {
      return false;
    }
    name = values_[index].first;
    return true;
  }
  bool QueryValue(const std::string& name, char* buffer, size_t capacity) const override {
    for (const auto& [valueName, data] : values_) {
      if (valueName != name) continue;
      if (data.size() + 1 > capacity) return false;
      data.copy(buffer, data.size());
      buffer[data.size()] = '\0';
      return true;
    }
    return false;
  }

 private:
  std::vector<std::pair<std::string, std::string>> values_;
};

class DeviceMap {
 public:
  virtual ~DeviceMap() = default;
  // Opens the map for reading; null when it cannot be opened.
  virtual std::unique_ptr<DeviceMapKey> Open() = 0;
};

// The operating system's device map, provided by the backend chosen by the build.
DeviceMap& NativeDeviceMap();

// POSIX: the [Ports] entries of the configuration file (name, device path), in
// file order; the native map lists them from then on. Ignored elsewhere.
void SetDeviceMapPorts(std::vector<std::pair<std::string, std::string>> entries);

namespace detail {
inline std::atomic<DeviceMap*> g_installedDeviceMap{nullptr};
}

// Replaces the map that CurrentDeviceMap returns (tests and the demo install
// the sim map); null restores the native one. Not owned.
inline void InstallDeviceMap(DeviceMap* map) { detail::g_installedDeviceMap.store(map); }

inline DeviceMap& CurrentDeviceMap() {
  DeviceMap* map = detail::g_installedDeviceMap.load();
  return map ? *map : NativeDeviceMap();
}

}  // namespace platform
