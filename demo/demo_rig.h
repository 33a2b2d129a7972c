// The toolkit-free part of the demonstration stations (vantorel-cli --demo,
// the desktop demo and the screenshots): a fresh station folder, scanners
// plugged into simulated lines under their port names, and the sample
// firmware of a desktop station with the ZANDRIC.INI that names it. The
// front ends put their own operators and windows around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "demo_firmware.h"
#include "scanner_sim.h"

namespace platform::sim {
class SimLine;
}

namespace vtdemo {

// A fresh folder named prefix-<8 hex digits> under the system's temporary
// folder; empty when none could be made.
std::filesystem::path MakeStationFolder(const std::string& prefix);

// One simulated scanner on a simulated line that the sim port registry lends
// out under the port's name (COM1, ZEV2).
struct SimScanner {
  std::string port;
  std::shared_ptr<platform::sim::SimLine> line;
  std::unique_ptr<scanner::ScannerSim> sim;
};

// Makes the line (paced at lineBitsPerSecond; 0: as fast as the threads go),
// lends it out under port and puts a scanner of the configuration on its far
// end. The caller installs the registry as the port opener once every
// scanner is plugged in.
SimScanner PlugSimScanner(const std::string& port, const scanner::ScannerConfig& config,
                          uint32_t lineBitsPerSecond);

// The desktop station's firmware in folder: the sample files of
// WriteDemoFiles, with the images and raw files rewritten to about
// firmwareBytes data bytes each so that transfers take a while at the line
// rate, and a ZANDRIC.INI with the Setup menu on, the log folder in the
// station folder and COM1 to COM3 logging. False with a reason when a write
// fails.
bool WriteDesktopStationFiles(const std::string& folder, size_t firmwareBytes, DemoFiles& files,
                              std::string& error);

}  // namespace vtdemo
