// Records boxes and beeps for tests and headless runs.
#include "platform/message_recorder.h"

#include <algorithm>
#include <chrono>

namespace platform {

void MessageRecorder::Show(BoxKind kind, const std::string& caption, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back(RecordedBox{kind, caption, text});
  }
  changed_.notify_all();
}

void MessageRecorder::Beep(uint32_t) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++beeps_;
  }
  changed_.notify_all();
}

std::vector<RecordedBox> MessageRecorder::Boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

std::vector<std::string> MessageRecorder::Texts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> texts;
  texts.reserve(boxes_.size());
  for (const RecordedBox& box : boxes_) texts.push_back(box.text);
  return texts;
}

int MessageRecorder::BeepCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return beeps_;
}

bool MessageRecorder::Contains(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(boxes_.begin(), boxes_.end(),
                     [&](const RecordedBox& box) { return box.text == text; });
}

bool MessageRecorder::WaitFor(const std::string& text, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [&] {
    return std::any_of(boxes_.begin(), boxes_.end(),
                       [&](const RecordedBox& box) { return box.text == text; });
  });
}

void MessageRecorder::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_.clear();
  beeps_ = 0;
}

ScopedMessageRecorder::ScopedMessageRecorder() : previous_(CurrentMessageSink()) {
  InstallMessageSink(this);
}

ScopedMessageRecorder::~ScopedMessageRecorder() { InstallMessageSink(previous_); }

}  // namespace platform
