#include "desktop_bench.h"

#include <filesystem>
#include <system_error>

#include "platform/device_map.h"
#include "platform/serial_port.h"
#include "platform/sim/device_map_sim.h"
#include "platform/sim/sim_line.h"

namespace vtdemo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";

// The MV2 scanners of the bench: boards of two board versions (before 5.0
// they take the older loader) and two loader versions.
scanner::ScannerConfig BoardConfig(int loaderMinor, int boardMajor, int boardMinor) {
  scanner::ScannerConfig config = scanner::ScannerConfig::MV2();
  config.minor = loaderMinor;
  config.boardMajor = boardMajor;
  config.boardMinor = boardMinor;
  return config;
}

platform::sim::SimPortRegistry& Registry() { return platform::sim::SimPortRegistry::Instance(); }
platform::sim::SimDeviceMap& DeviceMap() { return platform::sim::SimDeviceMap::Instance(); }

}  // namespace

DesktopBench::~DesktopBench() {
  places_.clear();
  if (!prepared_) return;
  platform::InstallDeviceMap(nullptr);
  DeviceMap().Clear();
  platform::InstallPortOpener({});
  Registry().Clear();
  std::error_code ec;
  if (!previousDir_.empty()) fs::current_path(previousDir_, ec);
  if (!folder_.empty()) fs::remove_all(folder_, ec);
}

std::string DesktopBench::PanelName(size_t index) const {
  const Place& place = places_[index];
  return place.usb ? kDevicePrefix + place.plugged.port : place.plugged.port;
}

bool DesktopBench::Prepare(const std::string& prefix, size_t firmwareBytes,
                           uint32_t lineBitsPerSecond, std::string& error) {
  const fs::path folder = MakeStationFolder(prefix);
  if (folder.empty()) {
    error = "cannot make a station folder under the temporary folder";
    return false;
  }
  folder_ = folder.string();
  prepared_ = true;
  DemoFiles files;
  if (!WriteDesktopStationFiles(folder_, firmwareBytes, files, error)) return false;

  std::error_code ec;
  previousDir_ = fs::current_path(ec).string();
  fs::current_path(folder, ec);
  if (ec) {
    error = "cannot change to " + folder_;
    return false;
  }

  Registry().Clear();
  DeviceMap().Clear();
  const struct {
    const char* port;
    const char* model;
    bool usb;
    scanner::ScannerConfig config;
  } kBench[] = {
      {"COM1", "MV2", false, BoardConfig(1, 4, 9)},
      {"COM2", "QZ600", false, scanner::ScannerConfig::QZ600()},
      {kUsbPort, "MV2", true, BoardConfig(2, 5, 1)},
  };
  for (const auto& entry : kBench) {
    Place place;
    place.plugged = PlugSimScanner(entry.port, entry.config, lineBitsPerSecond);
    place.model = entry.model;
    place.usb = entry.usb;
    places_.push_back(std::move(place));
  }
  Registry().InstallAsOpener();
  // The machine's own serial ports are in the device map, as on any PC; the
  // USB scanner is still switched off, so its driver lists nothing yet.
  DeviceMap().AddValue("\\Device\\Serial0", "COM1");
  DeviceMap().AddValue("\\Device\\Serial1", "COM2");
  DeviceMap().InstallAsDeviceMap();
  return true;
}

void DesktopBench::PlugUsbScanner() {
  for (Place& place : places_) {
    if (!place.usb || place.plugged.sim->IsPoweredOn()) continue;
    place.plugged.sim->PowerOn();
    DeviceMap().PlugScanner(place.plugged.port, place.plugged.line);
  }
}

}  // namespace vtdemo
