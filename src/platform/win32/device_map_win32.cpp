// The serial device map on Windows: the registry key
// HKEY_LOCAL_MACHINE\hardware\devicemap\serialcomm, where every serial
// driver lists its ports (value name: the driver's device object, data: the
// port name). The key is opened read-only for each scan and closed when the
// scan is done with it.
#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_map.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

class RegistryDeviceMapKey : public DeviceMapKey {
 public:
  RegistryDeviceMapKey(HKEY key, uint32_t count) : key_(key), count_(count) {}
  ~RegistryDeviceMapKey() override { ::RegCloseKey(key_); }
  RegistryDeviceMapKey(const RegistryDeviceMapKey&) = delete;
  RegistryDeviceMapKey& operator=(const RegistryDeviceMapKey&) = delete;

  uint32_t ValueCount() const override { return count_; }

  bool EnumValueName(uint32_t index, std::string& name) const override {
    std::vector<char> buffer(kMaxDeviceMapNameChars + 1);
    DWORD chars = static_cast<DWORD>(buffer.size());
    // Only the name: the data is read by name afterwards.
    if (::RegEnumValueA(key_, index, buffer.data(), &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return false;
    }
    name.assign(buffer.data(), chars);
    return true;
  }

  bool QueryValue(const std::string& name, char* buffer, size_t capacity) const override {
    if (buffer == nullptr || capacity == 0) return false;
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(std::min<size_t>(capacity, ULONG_MAX));
    if (::RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                           &bytes) != ERROR_SUCCESS) {
      return false;  // ERROR_MORE_DATA among others: the data does not fit
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // Registry text need not be stored with its terminating zero; when it is
    // not, the zero must still fit behind the data.
    if (bytes > 0 && buffer[bytes - 1] == '\0') return true;
    if (bytes >= capacity) return false;
    buffer[bytes] = '\0';
    return true;
  }

 private:
  HKEY key_;
  uint32_t count_;
};

class RegistryDeviceMap : public DeviceMap {
 public:
  std::unique_ptr<DeviceMapKey> Open() override {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "hardware\\devicemap\\serialcomm", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
      return nullptr;
    }
    DWORD values = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                           nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      // A key whose size cannot be read is scanned as one without values.
      values = 0;
    }
    return std::make_unique<RegistryDeviceMapKey>(key, values);
  }
};

}  // namespace

DeviceMap& NativeDeviceMap() {
  static RegistryDeviceMap map;
  return map;
}

// The registry is the system's own list; the configuration file has no say.
void SetDeviceMapPorts(std::vector<std::pair<std::string, std::string>>) {}

}  // namespace platform
