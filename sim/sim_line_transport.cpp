// The scanner simulator on the far end of an in-memory sim line.
#include <thread>

#include "platform/sim/sim_line.h"
#include "scanner_transport.h"

namespace scanner {
namespace {

class SimLineTransport : public ScannerTransport {
 public:
  explicit SimLineTransport(std::shared_ptr<platform::sim::SimLine> line) : line_(std::move(line)) {}

  void SetPower(bool on) override { line_->SetPower(on); }
  bool HasModemLines() const override { return true; }
  bool Write(const void* data, size_t length) override { return line_->FarWrite(data, length); }

  size_t Read(void* buffer, size_t capacity, uint32_t timeoutMs) override {
    // An unplugged line answers at once; wait here so the caller's loop
    // does not spin.
    if (!line_->IsPluggedIn()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
      return 0;
    }
    return line_->FarRead(buffer, capacity, timeoutMs);
  }

  void Unplug() override { line_->Unplug(); }
  void CutAtProgramByte(uint64_t atByte, bool unplug) override {
    line_->CutAtNearByte(atByte, unplug);
  }
  bool IsPluggedIn() const override { return line_->IsPluggedIn(); }

 private:
  const std::shared_ptr<platform::sim::SimLine> line_;
};

}  // namespace

std::unique_ptr<ScannerTransport> MakeSimLineTransport(std::shared_ptr<platform::sim::SimLine> line) {
  return std::make_unique<SimLineTransport>(std::move(line));
}

}  // namespace scanner
