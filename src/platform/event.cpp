// Manual-reset events and the wait for any of them.
//
// All events of the process share one mutex and one condition variable: a
// panel waits on at most three events at a time and events are set a few
// hundred times a second at most, so waking every waiter on each Set costs
// nothing worth a per-event waiter list, and it makes a wait on several events
// at once straightforward.
#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/time.h"

namespace platform {
namespace {

// Guards the transitions of every event's state towards waiters: Set holds it
// while it stores and notifies, so a waiter that has just found no event set
// cannot miss the notification.
std::mutex& WaitMutex() {
  static std::mutex mutex;
  return mutex;
}

std::condition_variable& WaitChanged() {
  static std::condition_variable changed;
  return changed;
}

int LowestSet(Event* const* events, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (events[i]->IsSet()) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    state_.store(true, std::memory_order_release);
  }
  WaitChanged().notify_all();
}

void Event::Reset() { state_.store(false, std::memory_order_release); }

void WakeTimedWaits() {
  { std::lock_guard<std::mutex> lock(WaitMutex()); }
  WaitChanged().notify_all();
}

int WaitForAny(Event* const* events, size_t count, uint32_t timeoutMs) {
  if (events == nullptr || count == 0) return kWaitFailed;
  for (size_t i = 0; i < count; ++i) {
    if (events[i] == nullptr) return kWaitFailed;
  }

  std::unique_lock<std::mutex> lock(WaitMutex());
  int index = LowestSet(events, count);
  if (index >= 0) return index;

  if (timeoutMs == kInfinite) {
    while ((index = LowestSet(events, count)) < 0) WaitChanged().wait(lock);
    return index;
  }
  // The deadline follows the time scale as it stands: a test that speeds
  // time up while a long wait runs shortens that wait too.
  const auto start = std::chrono::steady_clock::now();
  while ((index = LowestSet(events, count)) < 0) {
    const auto deadline = start + std::chrono::milliseconds(ScaleMs(timeoutMs));
    if (std::chrono::steady_clock::now() >= deadline) return kWaitTimeout;
    WaitChanged().wait_until(lock, deadline);
  }
  return index;
}

int WaitForAny(std::initializer_list<Event*> events, uint32_t timeoutMs) {
  return WaitForAny(events.begin(), events.size(), timeoutMs);
}

}  // namespace platform
