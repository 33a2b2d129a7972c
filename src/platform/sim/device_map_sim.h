// The device map of the simulated machine: the USB scanners plugged in now,
// as the scanners' USB driver lists them (a value "\Device\ZevSu<k>" holding
// the port name), plus whatever other values a test puts there: ports of other
// drivers, values whose data cannot be read, a map that cannot be opened.
//
// Tests and the demo fill it and install it with InstallAsDeviceMap; the port
// list (ports/port_list.h) then scans it instead of the system's map. A scanner
// registered with its sim line is listed only while that line is plugged in.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_map.h"
#include "platform/sim/sim_line.h"

namespace platform::sim {

class SimDeviceMap : public DeviceMap {
 public:
  static SimDeviceMap& Instance();

  // A USB scanner on port portName (COM7, ZEV0); listed while line (when
  // given) is plugged in. Returns the value name it is listed under.
  std::string PlugScanner(const std::string& portName, std::shared_ptr<SimLine> line = nullptr);
  // Takes the scanner's value out of the map.
  void UnplugScanner(const std::string& portName);
  // Any value, listed as it stands (name, data), after those added before.
  void AddValue(const std::string& name, const std::string& data);
  // A value whose data cannot be read.
  void AddUnreadableValue(const std::string& name);
  void RemoveValue(const std::string& name);
  // The map cannot be opened while this is set.
  void SetOpenFails(bool fails);
  // Empties the map and clears the open failure.
  void Clear();
  // Makes CurrentDeviceMap return this map; platform::InstallDeviceMap(nullptr)
  // restores the native one.
  void InstallAsDeviceMap();

  std::unique_ptr<DeviceMapKey> Open() override;

 private:
  struct Value {
    std::string name;
    std::string data;
    bool readable = true;
    std::weak_ptr<SimLine> line;  // empty: always listed
    bool hasLine = false;
  };

  mutable std::mutex mutex_;  // guards every member below
  std::vector<Value> values_;
  bool openFails_ = false;
  uint32_t nextScanner_ = 0;
};

}  // namespace platform::sim
