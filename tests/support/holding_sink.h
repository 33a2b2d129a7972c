// A message sink whose boxes hold their thread the way the desktop's do: a
// port thread's box stays open, and its thread waits, until the test answers
// it (as the operator presses OK) or the box is released from its thread.
// Boxes of the thread that made the sink (the test's window thread) are
// answered at once. Installed for its lifetime; whatever still waits is
// answered when it goes. Destroy every panel that may show boxes before the
// sink.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box.h"

namespace testsupport {

class HoldingSink : public platform::MessageSink {
 public:
  HoldingSink()
      : previous_(platform::CurrentMessageSink()), windowThread_(std::this_thread::get_id()) {
    platform::InstallMessageSink(this);
  }
  ~HoldingSink() override {
    platform::InstallMessageSink(previous_);
    AnswerAll();
  }
  HoldingSink(const HoldingSink&) = delete;
  HoldingSink& operator=(const HoldingSink&) = delete;

  void Show(platform::BoxKind, const std::string&, const std::string& text) override {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (self == windowThread_) return;
    const int number = next_++;
    open_.push_back(Box{number, text, self});
    changed_.notify_all();
    changed_.wait(lock, [&] { return !IsOpen(number) || IsReleased(self); });
    if (IsReleased(self)) ++releasedReturns_;
  }
  void Beep(uint32_t) override {}

  void ReleaseThread(std::thread::id thread) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_.push_back(thread);
    }
    changed_.notify_all();
  }
  void ForgetThread(std::thread::id thread) override {
    std::lock_guard<std::mutex> lock(mutex_);
    released_.erase(std::remove(released_.begin(), released_.end(), thread), released_.end());
  }

  // The port threads' boxes open now (not answered yet) whose text holds
  // this part.
  int Showing(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count_if(open_.begin(), open_.end(), [&](const Box& box) {
      return box.text.find(part) != std::string::npos;
    }));
  }
  // Boxes whose thread went on because the box was released from it.
  int ReleasedReturns() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return releasedReturns_;
  }
  // Boxes the operator has pressed OK on.
  int Answered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return answered_;
  }
  // The operator presses OK on every open box.
  void AnswerAll() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      answered_ += static_cast<int>(open_.size());
      open_.clear();
    }
    changed_.notify_all();
  }

 private:
  struct Box {
    int number;
    std::string text;
    std::thread::id thread;
  };

  // Callers hold mutex_.
  bool IsOpen(int number) const {
    return std::any_of(open_.begin(), open_.end(),
                       [&](const Box& box) { return box.number == number; });
  }
  bool IsReleased(std::thread::id thread) const {
    return std::find(released_.begin(), released_.end(), thread) != released_.end();
  }

  platform::MessageSink* previous_;
  const std::thread::id windowThread_;
  mutable std::mutex mutex_;  // guards open_, released_, next_, releasedReturns_ and answered_
  std::condition_variable changed_;
  std::vector<Box> open_;
  std::vector<std::thread::id> released_;
  int next_ = 0;
  int releasedReturns_ = 0;
  int answered_ = 0;
};

}  // namespace testsupport
