// The program's end of a sim line, driven directly by a test of the scanner
// simulator: types keys and reads the loader's answers until a text arrives.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "platform/sim/sim_line.h"

namespace simtest {

class SimNearEnd {
 public:
  explicit SimNearEnd(std::shared_ptr<platform::sim::SimLine> line) : line_(std::move(line)) {
    int error = 0;
    port_ = line_->OpenNear(error);
    platform::CommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = 1;
    if (port_) port_->SetCommTimeouts(timeouts);
  }

  bool IsOpen() const { return port_ != nullptr; }

  // Held while the scanner keeps CTS low, as on the wire.
  bool Type(const std::string& keys) { return port_->Write(keys.data(), keys.size()); }
  bool Type(const std::vector<uint8_t>& bytes) { return port_->Write(bytes.data(), bytes.size()); }

  // Reads until text is among the bytes read since the last Take (real
  // time, generous by default).
  bool ReadUntil(const std::string& text, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (seen_.find(text) != std::string::npos) return true;
      if (std::chrono::steady_clock::now() >= end) return false;
      ReadOnce(20);
    }
  }

  // Everything read since the last Take; starts afresh.
  std::string Take() {
    std::string all;
    all.swap(seen_);
    return all;
  }
  const std::string& Seen() const { return seen_; }

  uint32_t ModemStatus() {
    uint32_t status = 0;
    port_->GetCommModemStatus(status);
    return status;
  }
  // Waits until CTS and DSR are both up (or both down).
  bool WaitForLines(bool up, int timeoutMs = 10000) {
    const uint32_t want = up ? platform::MS_CTS_ON | platform::MS_DSR_ON : 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ModemStatus() != want) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

 private:
  void ReadOnce(uint32_t timeoutMs) {
    char buffer[1024];
    size_t got = 0;
    if (port_->Read(buffer, sizeof buffer, got, timeoutMs) == platform::ReadStatus::kData) {
      seen_.append(buffer, got);
    }
  }

  std::shared_ptr<platform::sim::SimLine> line_;
  platform::PortPtr port_;
  std::string seen_;
};

}  // namespace simtest
