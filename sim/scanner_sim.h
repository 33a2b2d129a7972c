// The scanner loader simulator: stands in for a QZ500, QZ600 or MV2 scanner on
// the far end of a line. It answers the wake-up with the banner of its family
// and loader version, runs the loader's text menu for every firmware
// component, re-assembles the S-records it receives into memory and records
// everything, so tests can check that what reached the scanner is the
// firmware, byte for byte. Used by tests, benchmarks, the demo and the
// pseudo-terminal server.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform::sim {
class SimLine;
}

namespace scanner {

// How the simulated scanner behaves; the defaults are a healthy scanner.
struct ScannerConfig {
  char familyDigit = '6';      // '5' QZ500, '6' QZ600; MV2 banners say '6' with loader 3.x or later
  int major = 2, minor = 3, patch = 4;
  bool boardText = false;      // MV2: "Board ... version a.b ... Loader" after the banner
  int boardMajor = 4, boardMinor = 9;
  std::array<uint8_t, 64> specialBlock{};  // the scanner's own 64 bytes
  bool imageStoreHasData = false;          // the Image Store Area question is asked

  static ScannerConfig QZ500();
  static ScannerConfig QZ600();
  static ScannerConfig MV2();
};

class ScannerSim {
 public:
  // Serves the loader on the far end of line. The scanner starts switched off
  // (CTS and DSR low).
  ScannerSim(std::shared_ptr<platform::sim::SimLine> line, ScannerConfig config);
  ~ScannerSim();
  ScannerSim(const ScannerSim&) = delete;
  ScannerSim& operator=(const ScannerSim&) = delete;

  void PowerOn();
  void PowerOff();
  bool IsPoweredOn() const;

  // Every byte the scanner received, in order.
  std::vector<uint8_t> Received() const;
  // Waits (real time) until the scanner received this byte sequence.
  bool WaitForReceived(const std::string& bytes, int timeoutMs) const;
};

}  // namespace scanner
