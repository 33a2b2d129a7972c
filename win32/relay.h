// Carries a change made on a port thread (progress moved, port button enabled
// or disabled) to a window on the window thread: the port thread's poster
// posts one private message to the window, and further posts before the
// window has handled it are folded into it, since the window reads the
// model's current values anyway. No port thread ever touches a window or
// waits for the window thread.
//
// Once the relay is detached (the window is going away), a poster that a
// port thread still runs posts nothing.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "handles.h"

namespace vtwin {

class Relay {
 public:
  // message is posted to window.
  Relay(HWND window, unsigned message);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // For any thread: posts the message unless one is already pending.
  std::function<void()> Poster() const;
  // Window thread, when the message arrives: true while attached. Clears the
  // pending mark first, so a change made while the window reads the model
  // posts again and is not lost.
  bool Take();
  // Window thread: nothing is posted after this returns.
  void Detach();

 private:
  struct Gate {
    std::mutex mutex;  // guards window
    HWND window = nullptr;
    unsigned message = 0;
    std::atomic<bool> pending{false};
    void Post();
  };
  const std::shared_ptr<Gate> gate_;
};

}  // namespace vtwin
