#include "platform/sim/device_map_sim.h"

#include <cctype>

namespace platform::sim {
namespace {

struct Listed {
  std::string name;
  std::string data;
  bool readable;
};

// The values present when the map was opened.
class SimDeviceMapKey : public DeviceMapKey {
 public:
  explicit SimDeviceMapKey(std::vector<Listed> values) : values_(std::move(values)) {}

  uint32_t ValueCount() const override { return static_cast<uint32_t>(values_.size()); }

  bool EnumValueName(uint32_t index, std::string& name) const override {
    if (index >= values_.size() || values_[index].name.size() > kMaxDeviceMapNameChars) {
      return false;
    }
    name = values_[index].name;
    return true;
  }

  bool QueryValue(const std::string& name, char* buffer, size_t capacity) const override {
    for (const Listed& value : values_) {
      if (value.name != name) continue;
      if (!value.readable || value.data.size() + 1 > capacity) return false;
      value.data.copy(buffer, value.data.size());
      buffer[value.data.size()] = '\0';
      return true;
    }
    return false;
  }

 private:
  std::vector<Listed> values_;
};

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

SimDeviceMap& SimDeviceMap::Instance() {
  static SimDeviceMap map;
  return map;
}

std::string SimDeviceMap::PlugScanner(const std::string& portName,
                                      std::shared_ptr<SimLine> line) {
  std::lock_guard<std::mutex> lock(mutex_);
  Value value;
  value.name = "\\Device\\ZevSu" + std::to_string(nextScanner_++);
  value.data = portName;
  value.hasLine = line != nullptr;
  value.line = line;
  values_.push_back(value);
  return value.name;
}

void SimDeviceMap::UnplugScanner(const std::string& portName) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(values_, [&](const Value& v) {
    return v.name.rfind("\\Device\\ZevSu", 0) == 0 && SameName(v.data, portName);
  });
}

void SimDeviceMap::AddValue(const std::string& name, const std::string& data) {
  std::lock_guard<std::mutex> lock(mutex_);
  Value value;
  value.name = name;
  value.data = data;
  values_.push_back(value);
}

void SimDeviceMap::AddUnreadableValue(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Value value;
  value.name = name;
  value.readable = false;
  values_.push_back(value);
}

void SimDeviceMap::RemoveValue(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(values_, [&](const Value& v) { return v.name == name; });
}

void SimDeviceMap::SetOpenFails(bool fails) {
  std::lock_guard<std::mutex> lock(mutex_);
  openFails_ = fails;
}

void SimDeviceMap::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  values_.clear();
  openFails_ = false;
  nextScanner_ = 0;
}

void SimDeviceMap::InstallAsDeviceMap() { InstallDeviceMap(this); }

std::unique_ptr<DeviceMapKey> SimDeviceMap::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (openFails_) return nullptr;
  std::vector<Listed> listed;
  for (const Value& value : values_) {
    if (value.hasLine) {
      std::shared_ptr<SimLine> line = value.line.lock();
      if (!line || !line->IsPluggedIn()) continue;
    }
    listed.push_back({value.name, value.data, value.readable});
  }
  return std::make_unique<SimDeviceMapKey>(std::move(listed));
}

}  // namespace platform::sim
