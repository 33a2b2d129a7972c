#include "platform/box_queue.h"

#include <algorithm>

namespace platform {

void BoxQueue::Waiter::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
}

void BoxQueue::Waiter::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return released_; });
}

bool BoxQueue::Enqueue(BoxKind kind, const std::string& caption, const std::string& text,
                       std::shared_ptr<Waiter>& waiter) {
  const std::thread::id self = std::this_thread::get_id();
  waiter.reset();
  std::lock_guard<std::mutex> lock(mutex_);
  if (closing_) return false;
  if (std::find(released_.begin(), released_.end(), self) == released_.end()) {
    waiter = std::make_shared<Waiter>(self);
    waiters_.push_back(waiter);
  }
  requests_.push_back(Request{waiter, kind, caption, text});
  return true;
}

void BoxQueue::Wait(const std::shared_ptr<Waiter>& waiter) {
  if (!waiter) return;
  waiter->Wait();
  std::lock_guard<std::mutex> lock(mutex_);
  waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

std::vector<BoxQueue::Request> BoxQueue::Take() {
  std::vector<Request> requests;
  std::lock_guard<std::mutex> lock(mutex_);
  // Released already when the program is closing.
  if (!closing_) requests.swap(requests_);
  return requests;
}

void BoxQueue::ReleaseThread(std::thread::id thread) {
  std::vector<std::shared_ptr<Waiter>> waiting;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_.push_back(thread);
    for (const auto& waiter : waiters_) {
      if (waiter->Thread() == thread) waiting.push_back(waiter);
    }
  }
  // The box stays open; its thread goes on.
  for (const auto& waiter : waiting) waiter->Release();
}

void BoxQueue::ForgetThread(std::thread::id thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto at = std::find(released_.begin(), released_.end(), thread);
  if (at != released_.end()) released_.erase(at);
}

void BoxQueue::Close() {
  std::vector<std::shared_ptr<Waiter>> waiting;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    waiting = waiters_;
    requests_.clear();
  }
  for (const auto& waiter : waiting) waiter->Release();
}

bool BoxQueue::IsClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closing_;
}

}  // namespace platform
