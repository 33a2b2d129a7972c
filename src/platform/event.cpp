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

int WaitForAny(Event* const* events, size_t count, uint32_t timeoutMs) {
  if (events == nullptr || count == 0) return kWaitFailed;
  for (size_t i = 0; i < count; ++i) {
    if (events[i] == nullptr) return kWaitFailed;
  }

  std::unique_lock<std::mutex> lock(WaitMutex());
  int index = LowestSet(events, count);
  if (index >= 0) return index;

  const uint32_t scaled = ScaleMs(timeoutMs);
  if (scaled == kInfinite) {
    while ((index = LowestSet(events, count)) < 0) WaitChanged().wait(lock);
    return index;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled);
  while ((index = LowestSet(events, count)) < 0) {
    if (WaitChanged().wait_until(lock, deadline) == std::cv_status::timeout) {
      index = LowestSet(events, count);
      return index >= 0 ? index : kWaitTimeout;
    }
  }
  return index;
}

int WaitForAny(std::initializer_list<Event*> events, uint32_t timeoutMs) {
  return WaitForAny(events.begin(), events.size(), timeoutMs);
}

}  // namespace platform
