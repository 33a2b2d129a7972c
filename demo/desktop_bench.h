// The bench of the desktop demonstration stations (Qt and Win32 alike): an MV2
// scanner on the RS-232 port COM1, a QZ600 on COM2, and another MV2 behind
// the USB driver's port ZEV2, which is switched on and appears in the device
// map only once the operator has pressed the USB button. It owns the station
// folder (sample firmware and ZANDRIC.INI, the current folder while the bench
// stands), the simulated lines lent out under the port names, and the device
// map. The front ends put their own operators and windows around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "demo_rig.h"

namespace vtdemo {

class DesktopBench {
 public:
  // The USB scanner's port.
  static constexpr const char* kUsbPort = "ZEV2";

  DesktopBench() = default;
  // Puts the machine back: the current folder, the port opener and the
  // device map; removes the station folder.
  ~DesktopBench();
  DesktopBench(const DesktopBench&) = delete;
  DesktopBench& operator=(const DesktopBench&) = delete;

  // Writes the firmware (about firmwareBytes data bytes per file) and
  // ZANDRIC.INI into a fresh folder named prefix-<hex>, makes it the current
  // folder and plugs the scanners in on lines paced at lineBitsPerSecond.
  // False with the reason when that fails.
  bool Prepare(const std::string& prefix, size_t firmwareBytes, uint32_t lineBitsPerSecond,
               std::string& error);

  const std::string& Folder() const { return folder_; }
  size_t Count() const { return places_.size(); }
  SimScanner& Plugged(size_t index) { return places_[index].plugged; }
  // The model the operator reads on the scanner: "MV2", "QZ600".
  const std::string& Model(size_t index) const { return places_[index].model; }
  // The port name of a scanner's panel: COM1, COM2, \\.\ZEV2.
  std::string PanelName(size_t index) const;
  // Switches the USB scanner on and lets its driver list it (once).
  void PlugUsbScanner();

 private:
  struct Place {
    SimScanner plugged;
    std::string model;
    bool usb = false;
  };
  std::string folder_;
  std::string previousDir_;
  std::vector<Place> places_;
  bool prepared_ = false;
};

}  // namespace vtdemo
