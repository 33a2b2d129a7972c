#include "demo_station.h"

#include <QTimer>

#include <filesystem>
#include <system_error>

#include "app/comm_dialog.h"
#include "main_window_view.h"
#include "platform/device_map.h"
#include "platform/serial_port.h"
#include "platform/sim/device_map_sim.h"
#include "platform/sim/sim_line.h"

namespace vtgui {

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

DemoStation::DemoStation(const DemoOptions& options) : options_(options) {}

DemoStation::~DemoStation() {
  StepBack();
  scanners_.clear();
  if (!prepared_) return;
  platform::InstallDeviceMap(nullptr);
  DeviceMap().Clear();
  platform::InstallPortOpener({});
  Registry().Clear();
  std::error_code ec;
  if (!previousDir_.empty()) fs::current_path(previousDir_, ec);
  if (!folder_.empty()) fs::remove_all(folder_, ec);
}

std::string DemoStation::PanelName(size_t index) const {
  const Bench& bench = scanners_[index];
  return bench.usb ? kDevicePrefix + bench.plugged.port : bench.plugged.port;
}

bool DemoStation::Prepare(std::string& error) {
  const fs::path folder = vtdemo::MakeStationFolder("vantorel-desktop-demo");
  if (folder.empty()) {
    error = "cannot make a station folder under the temporary folder";
    return false;
  }
  folder_ = folder.string();
  prepared_ = true;
  if (!WriteFirmware(error)) return false;

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
    bool usb;
    scanner::ScannerConfig config;
  } kBench[] = {
      {"COM1", false, BoardConfig(1, 4, 9)},
      {"COM2", false, scanner::ScannerConfig::QZ600()},
      {kUsbPort, true, BoardConfig(2, 5, 1)},
  };
  for (const auto& place : kBench) {
    Bench bench;
    bench.plugged = vtdemo::PlugSimScanner(place.port, place.config, options_.lineBitsPerSecond);
    bench.usb = place.usb;
    bench.person = std::make_unique<vtdemo::SimOperator>(*bench.plugged.sim, options_.reactionMs);
    scanners_.push_back(std::move(bench));
  }
  Registry().InstallAsOpener();
  // The machine's own serial ports are in the device map, as on any PC; the
  // USB scanner is still switched off, so its driver lists nothing yet.
  DeviceMap().AddValue("\\Device\\Serial0", "COM1");
  DeviceMap().AddValue("\\Device\\Serial1", "COM2");
  DeviceMap().InstallAsDeviceMap();
  return true;
}

bool DemoStation::WriteFirmware(std::string& error) {
  vtdemo::DemoFiles files;
  return vtdemo::WriteDesktopStationFiles(folder_, options_.firmwareBytes, files, error);
}

void DemoStation::Attach(MainWindowView& view) {
  connect(&view, &MainWindowView::panelCreated, this, &DemoStation::OnPanelCreated);
  connect(&view, &MainWindowView::usbSearchStarted, this, [this] {
    // The operator switches the USB scanner on as the prompt asks; its
    // driver then lists it.
    QTimer::singleShot(options_.reactionMs, this, &DemoStation::PlugUsbScanner);
  });
  connect(&view, &MainWindowView::aboutToShutDown, this, &DemoStation::StepBack);
}

void DemoStation::OnPanelCreated(CCommDialog* panel) {
  for (size_t i = 0; i < scanners_.size(); ++i) {
    if (PanelName(i) == panel->m_session.m_szPortName) scanners_[i].person->Attach(panel);
  }
}

void DemoStation::PlugUsbScanner() {
  for (Bench& bench : scanners_) {
    if (!bench.usb || bench.plugged.sim->IsPoweredOn()) continue;
    bench.plugged.sim->PowerOn();
    DeviceMap().PlugScanner(bench.plugged.port, bench.plugged.line);
  }
}

void DemoStation::StepBack() {
  for (Bench& bench : scanners_) {
    if (bench.person) bench.person->Detach();
  }
}

}  // namespace vtgui
