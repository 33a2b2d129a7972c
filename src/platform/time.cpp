// The process time scale, sleeps and the tick count. The local date and time
// come from the operating system's backend (posix/, win32/), since the
// standard library offers no thread-safe conversion to local time.
#include "platform/time.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "platform/event.h"

namespace platform {
namespace {

std::atomic<double> g_timeScale{1.0};

}  // namespace

void SetTimeScale(double scale) {
  // A scale of zero or below (or not a number) would turn every time-out into
  // an instant failure; such a value is a slip in a test and is ignored.
  if (!(scale > 0.0) || !std::isfinite(scale)) return;
  g_timeScale.store(scale);
  // Waits under way measure their time-out by the new scale.
  WakeTimedWaits();
}

double TimeScale() { return g_timeScale.load(); }

uint32_t ScaleMs(uint32_t ms) {
  if (ms == kInfinite || ms == 0) return ms;
  const double scaled = std::round(static_cast<double>(ms) * TimeScale());
  if (scaled < 1.0) return 1;
  // A finite time-out must stay finite however large the scale.
  if (scaled >= static_cast<double>(kInfinite)) return kInfinite - 1;
  return static_cast<uint32_t>(scaled);
}

void Sleep(uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ScaleMs(ms)));
}

uint32_t GetTickCount() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

}  // namespace platform
