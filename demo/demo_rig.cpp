#include "demo_rig.h"

#include <cstdio>
#include <random>
#include <system_error>
#include <vector>

#include "app/ini_file.h"
#include "platform/sim/sim_line.h"

namespace vtdemo {

namespace fs = std::filesystem;

fs::path MakeStationFolder(const std::string& prefix) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%08x", static_cast<unsigned>(random()));
    std::error_code ec;
    fs::path folder = fs::temp_directory_path(ec) / (prefix + suffix);
    if (!ec && fs::create_directory(folder, ec)) return folder;
  }
  return {};
}

SimScanner PlugSimScanner(const std::string& port, const scanner::ScannerConfig& config,
                          uint32_t lineBitsPerSecond) {
  SimScanner plugged;
  plugged.port = port;
  plugged.line = platform::sim::SimLine::Create();
  plugged.line->SetPacing(lineBitsPerSecond);
  platform::sim::SimPortRegistry::Instance().Add(port, plugged.line);
  plugged.sim = std::make_unique<scanner::ScannerSim>(plugged.line, config);
  return plugged;
}

bool WriteDesktopStationFiles(const std::string& folder, size_t firmwareBytes, DemoFiles& files,
                              std::string& error) {
  if (!WriteDemoFiles(folder, files, error)) return false;
  // Firmware large enough for the transfers to take a while at the line
  // rate, with the header records the loader and the station expect.
  const size_t n = firmwareBytes;
  if (!WriteFile(files.mv2Rcp, SRecordImage("RCPMV2 demo image", 0x0000FC00, SampleBytes(n, 21)), error) ||
      !WriteFile(files.mv2Vtc, SRecordImage("VTC MV2 demo image", 0x0001FA00, SampleBytes(n, 22)), error) ||
      !WriteFile(files.mv2Fpga, Raw(SampleBytes(2 * n, 23)), error) ||
      !WriteFile(files.mv2Uim, Raw(SampleBytes(n, 24)), error) ||
      !WriteFile(files.qz600Rcp, SRecordImage("QZ6 RCP demo image", 0x0000FC00, SampleBytes(n, 11)), error) ||
      !WriteFile(files.qz6Vtc, SRecordImage("VTC demo image", 0x0001FA00, SampleBytes(n, 13)), error) ||
      !WriteFile(files.qz6Cpld, Raw(SampleBytes(2 * n, 14)), error) ||
      !WriteFile(files.qz6Dsp, Raw(SampleBytes(n, 15)), error)) {
    return false;
  }
  // The station's own keys added to the sample INI, which is written once.
  CIniFile ini(files.ini);
  ini.Hold();
  ini.WriteString("Common", "IncludeSetupMenu", "y");
  ini.WriteString("Common", "LogPath", folder);
  for (const char* port : {"COM1", "COM2", "COM3"}) ini.WriteString("Common", port, "LOG");
  return ini.Save(error);
}

}  // namespace vtdemo
