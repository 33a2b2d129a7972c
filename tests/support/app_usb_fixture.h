// A simulated machine for the port discovery and main window tests: sim serial
// lines served by name, the sim device map of USB scanners, message boxes
// recorded. Everything is put back at the end of the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/device_map.h"
#include "platform/message_recorder.h"
#include "platform/serial_port.h"
#include "platform/sim/device_map_sim.h"
#include "platform/sim/sim_line.h"

namespace apptest {

class SimMachineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    Registry().Clear();
    Registry().InstallAsOpener();
    DeviceMap().Clear();
    DeviceMap().InstallAsDeviceMap();
  }
  void TearDown() override {
    platform::InstallDeviceMap(nullptr);
    DeviceMap().Clear();
    platform::InstallPortOpener({});
    Registry().Clear();
  }

  static platform::sim::SimPortRegistry& Registry() {
    return platform::sim::SimPortRegistry::Instance();
  }
  static platform::sim::SimDeviceMap& DeviceMap() { return platform::sim::SimDeviceMap::Instance(); }

  // An RS-232 port that opens.
  std::shared_ptr<platform::sim::SimLine> AddSerialPort(const std::string& name) {
    auto line = platform::sim::SimLine::Create();
    Registry().Add(name, line);
    return line;
  }
  // A USB scanner: its port opens and the driver lists it in the device map.
  std::shared_ptr<platform::sim::SimLine> PlugUsbScanner(const std::string& name) {
    auto line = AddSerialPort(name);
    DeviceMap().PlugScanner(name, line);
    return line;
  }

  platform::ScopedMessageRecorder boxes;
};

}  // namespace apptest
