// An in-memory null-modem cable between the program (near end, a SerialPort)
// and whoever stands in for the scanner (far end: the loader simulator or a
// test).
//
// The far end sets CTS and DSR as the scanner's power does, and the near end's
// writes are held while CTS is low, as RTS/CTS flow control holds them on a
// real line. Bytes can be paced at the line rate so that transfers take as
// long as on the wire. Unplug makes the port vanish as a USB scanner does.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace platform::sim {

class SimLine : public std::enable_shared_from_this<SimLine> {
 public:
  static std::shared_ptr<SimLine> Create();

  // ---- far end (scanner side) ----
  void SetCts(bool on);
  void SetDsr(bool on);
  // Both lines at once, as a power switch does.
  void SetPower(bool on);
  // Sends bytes toward the program. Paced when pacing is on. Returns false
  // while the near end is not open (the bytes are lost, as on a wire).
  bool FarWrite(const void* data, size_t length);
  bool FarWrite(const std::string& text) { return FarWrite(text.data(), text.size()); }
  // Takes up to capacity bytes the program wrote; waits up to timeoutMs
  // (real ms) for the first. Returns the count (0 on time-out or unplug).
  size_t FarRead(void* buffer, size_t capacity, uint32_t timeoutMs);
  // Everything the program ever wrote on this line, in order.
  std::vector<uint8_t> FarReceivedAll() const;
  size_t FarReceivedCount() const;

  // Pacing at bitsPerSecond with 10 bits per byte; 0 turns pacing off.
  void SetPacing(uint32_t bitsPerSecond);
  // The port disappears: pending and later near calls fail, opens fail.
  void Unplug();
  // The port is back (a later open succeeds).
  void Replug();
  bool IsPluggedIn() const;
  bool IsNearOpen() const;

  // ---- near end ----
  // Opens the near end; fails (null, error set) when unplugged or already open
  // (ports are opened without sharing).
  PortPtr OpenNear(int& error);

 private:
  friend class SimPort;
  SimLine() = default;

  mutable std::mutex mutex_;  // guards every member below
  std::condition_variable changed_;
  bool cts_ = false;
  bool dsr_ = false;
  bool plugged_ = true;
  bool nearOpen_ = false;
  uint64_t openGeneration_ = 0;  // tells a closed SimPort from the current one
  uint32_t pacingBps_ = 0;
  std::deque<uint8_t> toNear_;
  std::deque<uint8_t> toFar_;
  std::vector<uint8_t> farLog_;
  LineSettings settings_{};
};

// Named sim lines handed out by OpenSerialPort while installed: tests and the
// demo register COM1, ZEV0 ... and install the registry's opener.
class SimPortRegistry {
 public:
  static SimPortRegistry& Instance();
  void Add(const std::string& name, std::shared_ptr<SimLine> line);
  void Remove(const std::string& name);
  void Clear();
  std::shared_ptr<SimLine> Find(const std::string& name) const;
  std::vector<std::string> Names() const;
  // Installs an opener that serves registered names (device prefix \\.\
  // dropped, case ignored) and fails the rest with kErrorFileNotFound.
  void InstallAsOpener();

 private:
  mutable std::mutex mutex_;  // guards lines_
  std::map<std::string, std::shared_ptr<SimLine>> lines_;
};

}  // namespace platform::sim
