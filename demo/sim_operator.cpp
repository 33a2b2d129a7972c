#include "sim_operator.h"

#include <chrono>

#include "bench_operator.h"
#include "app/comm_dialog.h"
#include "scanner_sim.h"

namespace vtdemo {

namespace {

// How often the operator looks at the panel.
constexpr int kLookMs = 50;

}  // namespace

SimOperator::SimOperator(scanner::ScannerSim& scanner, int reactionMs)
    : scanner_(scanner), reactionMs_(reactionMs), thread_([this] { Loop(); }) {}

SimOperator::~SimOperator() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    panel_ = nullptr;
  }
  changed_.notify_all();
  thread_.join();
}

void SimOperator::Attach(CCommDialog* panel) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    panel_ = panel;
  }
  changed_.notify_all();
}

void SimOperator::Detach() {
  std::lock_guard<std::mutex> lock(mutex_);
  panel_ = nullptr;
}

SimOperator::Request SimOperator::RequestOf(const std::string& status) {
  if (status == kPowerOnText) return Request::kPowerOn;
  if (status == kCycleText) return Request::kCycle;
  if (status == kDoneText || status == kFailedText) return Request::kPowerOff;
  return Request::kNone;
}

std::string SimOperator::ReadStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  return panel_ != nullptr ? panel_->m_strStatus.Get() : std::string();
}

bool SimOperator::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
}

void SimOperator::Loop() {
  // The cycle request stays on the panel until the restarted scanner
  // answers; it is acted on once per appearance.
  std::string cycled;
  while (Pause(kLookMs)) {
    const std::string status = ReadStatus();
    const Request request = RequestOf(status);
    if (request != Request::kCycle) cycled.clear();
    const bool needed = (request == Request::kPowerOn && !scanner_.IsPoweredOn()) ||
                        (request == Request::kPowerOff && scanner_.IsPoweredOn()) ||
                        (request == Request::kCycle && cycled.empty());
    if (!needed) continue;
    if (!Pause(reactionMs_)) return;
    // A person reads the request once more before reaching for the switch.
    if (ReadStatus() != status) continue;
    switch (request) {
      case Request::kPowerOn:
        scanner_.PowerOn();
        break;
      case Request::kPowerOff:
        scanner_.PowerOff();
        break;
      case Request::kCycle:
        cycled = status;
        scanner_.PowerOff();
        if (!Pause(reactionMs_)) return;
        scanner_.PowerOn();
        break;
      case Request::kNone:
        break;
    }
  }
}

}  // namespace vtdemo
