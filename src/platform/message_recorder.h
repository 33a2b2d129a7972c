// A message sink that records every box (kind, caption, text) and beep and
// answers at once. Used by tests and by headless runs that inspect the boxes.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace platform {

struct RecordedBox {
  BoxKind kind;
  std::string caption;
  std::string text;
};

class MessageRecorder : public MessageSink {
 public:
  void Show(BoxKind kind, const std::string& caption, const std::string& text) override;
  void Beep(uint32_t type) override;

  std::vector<RecordedBox> Boxes() const;
  std::vector<std::string> Texts() const;
  int BeepCount() const;
  // Whether a box with exactly this text was shown.
  bool Contains(const std::string& text) const;
  // Waits (real time) until a box with exactly this text was shown; false on time-out.
  bool WaitFor(const std::string& text, int timeoutMs) const;
  void Clear();

 private:
  mutable std::mutex mutex_;  // guards boxes_ and beeps_
  mutable std::condition_variable changed_;
  std::vector<RecordedBox> boxes_;
  int beeps_ = 0;
};

// Installs a recorder for the lifetime of the object and restores the previous sink.
class ScopedMessageRecorder : public MessageRecorder {
 public:
  ScopedMessageRecorder();
  ~ScopedMessageRecorder() override;

 private:
  MessageSink* previous_;
};

}  // namespace platform
