// The toolkit-free half of a desktop message sink (the Qt and the Win32
// desktop each have one): the boxes that port threads ask for, queued until
// the window thread shows them, and the port threads waiting for their
// answer. A port thread never touches a window; it queues its box, has the
// window thread woken in the toolkit's own way and waits here until the box
// is answered, its thread is released (ScopedBoxRelease) or the program
// closes.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box.h"

namespace platform {

class BoxQueue {
 public:
  // One port thread waiting for its box.
  class Waiter {
   public:
    explicit Waiter(std::thread::id thread) : thread_(thread) {}
    // Lets the thread go on; releasing twice does no harm.
    void Release();
    void Wait();
    std::thread::id Thread() const { return thread_; }

   private:
    const std::thread::id thread_;
    std::mutex mutex_;  // guards released_
    std::condition_variable changed_;
    bool released_ = false;
  };

  // A box a port thread asked for, not shown yet.
  struct Request {
    std::shared_ptr<Waiter> waiter;  // null when no thread waits for the box
    BoxKind kind;
    std::string caption;
    std::string text;
  };

  // Port thread: queues its box. False when the program is closing: the box
  // is dropped. waiter is what the thread then waits for (Wait); null for a
  // released thread, whose box is shown all the same, only nobody waits.
  bool Enqueue(BoxKind kind, const std::string& caption, const std::string& text,
               std::shared_ptr<Waiter>& waiter);
  // Port thread: waits until its box is answered or the thread released.
  void Wait(const std::shared_ptr<Waiter>& waiter);
  // Window thread: the boxes asked for since the last call; none once closing.
  std::vector<Request> Take();

  // From now on boxes of the thread do not hold it; a box it waits for lets
  // it go at once.
  void ReleaseThread(std::thread::id thread);
  // The released thread has ended; its id may come back on a new thread.
  void ForgetThread(std::thread::id thread);

  // The program closes: every waiting thread goes on, the queue is dropped,
  // and later boxes of port threads are dropped at once.
  void Close();
  bool IsClosed() const;

 private:
  // guards waiters_, released_, requests_ and closing_
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Waiter>> waiters_;
  std::vector<std::thread::id> released_;  // threads whose boxes do not hold them
  std::vector<Request> requests_;
  bool closing_ = false;
};

}  // namespace platform
