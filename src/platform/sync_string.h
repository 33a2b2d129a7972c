// A text shared between threads: written by a port's threads (status line) or
// the Setup sheet (file settings), read by the window thread and the engines.
// The optional observer is called after every Set, on the writing thread; the
// front ends turn it into a queued call.
#pragma once

#include <functional>
#include <mutex>
#include <string>

namespace platform {

class SyncString {
 public:
  SyncString() = default;
  explicit SyncString(std::string initial) : value_(std::move(initial)) {}
  SyncString(const SyncString&) = delete;
  SyncString& operator=(const SyncString&) = delete;

  void Set(const std::string& value) {
    std::function<void(const std::string&)> observer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      value_ = value;
      observer = observer_;
    }
    if (observer) observer(value);
  }
  std::string Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value_;
  }
  bool Empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value_.empty();
  }
  void SetObserver(std::function<void(const std::string&)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
  }

 private:
  mutable std::mutex mutex_;  // guards value_ and observer_
  std::string value_;
  std::function<void(const std::string&)> observer_;
};

}  // namespace platform
