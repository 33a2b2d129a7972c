// The desktop program's message boxes on Windows: every box of the program
// (ShowError, ShowWarning, ShowNotice, ...) becomes a system message box with
// an OK button, without an owner window, always on top.
//
// A box asked for on the window thread is shown there: the command that asked
// waits for OK, while the box's own message loop keeps every other window of
// the program working (no owner window is disabled). A port thread never
// touches a window: it hands its box to the window thread (a private message
// to the sink's message window) and waits until the operator presses OK. The
// window thread shows each such box on a box thread of its own, so that the
// boxes of several ports stand side by side, each modal only for itself, and
// none holds up another or the window thread.
//
// A port thread that is being ended is released from its boxes: they stay
// on screen, and the thread goes on without waiting. When the program
// closes, Shutdown closes every open box and releases every waiting thread,
// and boxes asked for afterwards by port threads are dropped, so the
// teardown of the ports never waits for a box.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "handles.h"
#include "platform/box_queue.h"
#include "platform/message_box.h"

namespace vtwin {

class Win32MessageSink : public platform::MessageSink {
 public:
  // Made on the window thread, which it then serves.
  Win32MessageSink();
  ~Win32MessageSink() override;
  Win32MessageSink(const Win32MessageSink&) = delete;
  Win32MessageSink& operator=(const Win32MessageSink&) = delete;

  void Show(platform::BoxKind kind, const std::string& caption, const std::string& text) override;
  void Beep(uint32_t type) override;
  void ReleaseThread(std::thread::id thread) override;
  void ForgetThread(std::thread::id thread) override;

  // Window thread: closes every open box and releases every waiting port
  // thread; from now on boxes of port threads are dropped at once.
  void Shutdown();
  bool IsShutDown() const;

  // The boxes of port threads open now (any thread).
  std::vector<HWND> OpenBoxes() const;
  // Window thread: the boxes of the window thread open now, innermost last.
  // Each holds the command that asked for it until it is answered.
  std::vector<HWND> WindowBoxes() const;
  // Window thread: answers every box of the window thread as by OK; the
  // commands they held go on once the window thread returns to them.
  void CloseWindowBoxes();
  // Window thread: called once the last box of the window thread has been
  // answered and every command that asked for one has gone on.
  void SetWindowBoxesClosed(std::function<void()> callback) { windowBoxesClosed_ = std::move(callback); }

  // The message box style of a kind: its icon, OK, always on top.
  static unsigned BoxStyle(platform::BoxKind kind);

 private:
  // A port thread's box, shown on a box thread of its own.
  struct BoxThread {
    std::atomic<HWND> box{nullptr};
    std::atomic<bool> done{false};
    std::thread thread;
  };

  static intptr_t __stdcall WindowProc(HWND hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);
  bool OnWindowThread() const;
  void ShowOnWindowThread(platform::BoxKind kind, const std::string& caption, const std::string& text);
  // Window thread: shows the boxes port threads have asked for.
  void OpenRequested();
  // Window thread: joins the box threads whose boxes have been answered.
  void JoinFinished();

  const std::thread::id windowThread_;
  HWND messageWindow_ = nullptr;

  // The boxes of port threads not shown yet, and the threads waiting for
  // theirs.
  platform::BoxQueue queue_;
  mutable std::mutex threadsMutex_;  // guards boxThreads_
  std::vector<std::unique_ptr<BoxThread>> boxThreads_;

  std::vector<std::atomic<HWND>*> windowBoxes_;  // window thread only; innermost last
  std::function<void()> windowBoxesClosed_;
};

}  // namespace vtwin
