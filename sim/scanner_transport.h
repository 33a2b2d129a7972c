// The scanner simulator's end of the line to the program. Two kinds: the far
// end of an in-memory sim line (platform::sim::SimLine), which has modem lines
// that the scanner's power switches, and the master side of a
// pseudo-terminal, which has none: there, switching the scanner off closes
// the master, which the program's POSIX port sees as a hang-up (CTS and DSR
// read off), and the scanner cannot be switched on again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform::sim {
class SimLine;
}

namespace scanner {

class ScannerTransport {
 public:
  virtual ~ScannerTransport() = default;

  // The scanner's power as the program sees it: CTS and DSR up or down (sim
  // line), or the master kept open / closed for good (pseudo-terminal).
  virtual void SetPower(bool on) = 0;
  // Whether SetPower(false) can be undone; false for a pseudo-terminal.
  virtual bool HasModemLines() const = 0;

  // Sends bytes toward the program; false when they went nowhere (the program
  // has not opened its port, the line is unplugged or closed).
  virtual bool Write(const void* data, size_t length) = 0;
  // Takes up to capacity bytes the program wrote, waiting up to timeoutMs
  // (real milliseconds) for the first; 0 on time-out or when the line is gone.
  virtual size_t Read(void* buffer, size_t capacity, uint32_t timeoutMs) = 0;

  // The scanner vanishes (a USB scanner pulled out); for good.
  virtual void Unplug() = 0;
  // Where the transport can: the line fails (unplugged, or the scanner's
  // power drops) exactly as the program's byte number atByte goes out.
  virtual void CutAtProgramByte(uint64_t atByte, bool unplug) {
    (void)atByte;
    (void)unplug;
  }
  virtual bool IsPluggedIn() const = 0;
};

// The far end of a sim line.
std::unique_ptr<ScannerTransport> MakeSimLineTransport(std::shared_ptr<platform::sim::SimLine> line);

// A new pseudo-terminal in raw mode; slavePath receives the device the program
// opens. Null with error set when the system has none to give.
std::unique_ptr<ScannerTransport> OpenPtyTransport(std::string& slavePath, std::string& error);

}  // namespace scanner
