// The demonstration station of vantorel-demo and of the screenshots: the
// desktop program with simulated scanners in place of the machine's ports.
// An MV2 scanner hangs on the RS-232 port COM1, a QZ600 on COM2, and another
// MV2 waits on the USB driver's port ZEV2; it is switched on and appears in
// the device map once the operator has pressed the USB button. Sample
// firmware for both platforms and a ZANDRIC.INI that names it (Setup menu on,
// COM1 to COM3 logging) are made in a fresh folder, which becomes the program
// folder. The lines are paced at the line rate, so transfers take as long as
// on the wire, and a simulated operator per scanner works its power switch as
// its panel asks, so the two families are programmed side by side.
#pragma once

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CCommDialog;

#include "desktop_bench.h"
#include "sim_operator.h"

namespace vtgui {

class MainWindowView;

struct DemoOptions {
  // Line rate of the simulated lines in bit/s; 0 sends as fast as the threads go.
  uint32_t lineBitsPerSecond = 57600;
  // Data bytes of each generated image and raw file.
  size_t firmwareBytes = 16 * 1024;
  // Real milliseconds an operator takes to react to the panel.
  int reactionMs = 800;
};

class DemoStation : public QObject {
  Q_OBJECT

 public:
  explicit DemoStation(const DemoOptions& options);
  // Puts the machine back: the current directory, the port opener and the
  // device map; removes the station folder.
  ~DemoStation() override;

  // Writes the firmware and ZANDRIC.INI into a fresh folder, makes it the
  // current directory and plugs the simulated scanners in. False with the
  // reason when that fails.
  bool Prepare(std::string& error);
  // Puts the bench in front of the main window (before its initialisation):
  // operators take their places as the panels appear, the USB scanner is
  // switched on and plugged in when the USB search starts, and everyone
  // steps back before the ports are closed.
  void Attach(MainWindowView& view);

  const std::string& Folder() const { return bench_.Folder(); }
  size_t ScannerCount() const { return bench_.Count(); }
  scanner::ScannerSim& Scanner(size_t index) { return *bench_.Plugged(index).sim; }
  // The port name of a scanner's panel: COM1, COM2, \\.\ZEV2.
  std::string PanelName(size_t index) const { return bench_.PanelName(index); }

  // The USB scanner's port.
  static constexpr const char* kUsbPort = vtdemo::DesktopBench::kUsbPort;

 private:
  void OnPanelCreated(CCommDialog* panel);
  void StepBack();

  DemoOptions options_;
  // Declared before the operators, so that it outlives them: they hold its
  // scanners.
  vtdemo::DesktopBench bench_;
  // One per scanner of the bench, in its order.
  std::vector<std::unique_ptr<vtdemo::SimOperator>> persons_;
};

}  // namespace vtgui
