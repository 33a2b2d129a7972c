// Every status text a panel showed, in order, as its observer reports them
// from the port's threads. The rigs keep one per panel so a test can ask
// what a port showed, and in which order, while its threads still run.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace updtest {

class StatusTrail {
 public:
  void Add(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.push_back(text);
  }
  std::vector<std::string> All() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  bool Seen(const std::string& text) const { return Count(text) > 0; }
  int Count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(texts_.begin(), texts_.end(), text));
  }
  // True when the texts were shown in this order (others may lie between).
  bool InOrder(const std::vector<std::string>& texts) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t next = 0;
    for (const std::string& s : texts_) {
      if (next < texts.size() && s == texts[next]) ++next;
    }
    return next == texts.size();
  }

 private:
  mutable std::mutex mutex_;  // guards texts_
  std::vector<std::string> texts_;
};

}  // namespace updtest
