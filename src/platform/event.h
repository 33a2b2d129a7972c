// Manual-reset events and the wait for any of several of them.
//
// The port's threads hand work over through three such events per panel (exit,
// data received, receive gate); the receiver and the waits on the receive ring
// block on them. A wait may name a null event: it then fails at once, as a wait
// on an event that could not be created would.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// Results of WaitForAny besides the index of the signalled event.
constexpr int kWaitTimeout = 258;
constexpr int kWaitFailed = -1;

class Event {
 public:
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const { return state_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> state_{false};
};

// Waits until one of the events is set and returns the lowest index among the
// set ones; kWaitTimeout once timeoutMs (scaled by the process time scale, see
// time.h) has passed; kWaitFailed when a null event is named or none is given.
int WaitForAny(Event* const* events, size_t count, uint32_t timeoutMs);
// Makes every wait under way look at its deadline again (the time scale changed).
void WakeTimedWaits();
int WaitForAny(std::initializer_list<Event*> events, uint32_t timeoutMs);

}  // namespace platform
