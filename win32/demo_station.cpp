#include "demo_station.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "bench_operator.h"
#include "demo_firmware.h"
#include "demo_rig.h"
#include "app/comm_dialog.h"
#include "main_window.h"
#include "platform/device_map.h"
#include "platform/serial_port.h"
#include "platform/sim/device_map_sim.h"
#include "platform/sim/sim_line.h"
#include "scanner_sim.h"

namespace vtwin {

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
  bench_.reset();
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
  const Place& place = scanners_[index];
  return place.usb ? kDevicePrefix + place.port : place.port;
}

bool DemoStation::Prepare(std::string& error) {
  const fs::path folder = vtdemo::MakeStationFolder("vantorel-win32-demo");
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
  // Everyone works at once: the two families are programmed side by side.
  bench_ = std::make_unique<vtdemo::Bench>(std::vector<size_t>(std::size(kBench), 0));
  Registry().Clear();
  DeviceMap().Clear();
  for (const auto& entry : kBench) {
    Place place;
    place.port = entry.port;
    place.model = entry.model;
    place.usb = entry.usb;
    place.line = platform::sim::SimLine::Create();
    place.line->SetPacing(options_.lineBitsPerSecond);
    Registry().Add(entry.port, place.line);
    place.sim = std::make_unique<scanner::ScannerSim>(place.line, entry.config);
    scanner::ScannerSim* sim = place.sim.get();
    if (options_.operators) {
      place.person = std::make_unique<vtdemo::BenchOperator>(
        scanners_.size(), place.port, place.model,
        [sim](bool on) {
          if (on) {
            sim->PowerOn();
          } else {
            sim->PowerOff();
          }
        },
        *bench_,
        // The operators' words go to the console the program was started
        // from, if any.
        [](const std::string& line) {
          std::fputs((line + "\n").c_str(), stdout);
          std::fflush(stdout);
        },
        options_.reactionMs);
    }
    scanners_.push_back(std::move(place));
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
  // The desktop station's firmware and INI, as on the Linux desktop.
  vtdemo::DemoFiles files;
  return vtdemo::WriteDesktopStationFiles(folder_, options_.firmwareBytes, files, error);
}

void DemoStation::Attach(MainWindow& window) {
  MainWindow::Listener listener;
  listener.panelCreated = [this](CCommDialog* panel) { OnPanelCreated(panel); };
  // The operator switches the USB scanner on as the prompt asks; its driver
  // then lists it.
  listener.usbSearchStarted = [this] { PlugUsbScanner(); };
  listener.aboutToShutDown = [this] { StepBack(); };
  window.SetListener(std::move(listener));
}

void DemoStation::OnPanelCreated(CCommDialog* panel) {
  for (size_t i = 0; i < scanners_.size(); ++i) {
    if (PanelName(i) != panel->m_session.m_szPortName || !scanners_[i].person) continue;
    scanners_[i].panel = panel;
    // The operator reads every status text the port's threads show.
    panel->m_strStatus.SetObserver(
        [person = scanners_[i].person.get()](const std::string& status) { person->OnStatus(status); });
  }
}

void DemoStation::PlugUsbScanner() {
  for (Place& place : scanners_) {
    if (!place.usb || place.sim->IsPoweredOn()) continue;
    place.sim->PowerOn();
    DeviceMap().PlugScanner(place.port, place.line);
  }
}

void DemoStation::StepBack() {
  for (Place& place : scanners_) {
    if (place.panel != nullptr) place.panel->m_strStatus.SetObserver({});
    place.panel = nullptr;
  }
  if (bench_) bench_->Shutdown();
}

}  // namespace vtwin
