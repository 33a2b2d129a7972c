// Carries a change made on a port thread (progress moved, port button enabled
// or disabled) to a view on the window thread. The port threads call Post,
// which queues one refresh on the view's thread; further posts before that
// refresh has run are folded into it, since the refresh reads the model's
// current values anyway. No port thread ever touches a widget or waits for
// the window thread.
//
// The view detaches the relay before it goes away; an observer copy that a
// port thread is still running then posts nothing.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace vtgui {

class UiRelay : public std::enable_shared_from_this<UiRelay> {
 public:
  // refresh runs on target's thread, only while the relay is attached.
  static std::shared_ptr<UiRelay> Create(QObject* target, std::function<void()> refresh);

  // Any thread: schedules one refresh unless one is already pending.
  void Post();
  // Target's thread: no refresh runs or is scheduled after this returns.
  void Detach();

 private:
  UiRelay(QObject* target, std::function<void()> refresh)
      : target_(target), refresh_(std::move(refresh)) {}
  void Run();

  std::mutex mutex_;  // guards target_
  QObject* target_;
  std::atomic<bool> pending_{false};
  const std::function<void()> refresh_;  // called on target's thread only
};

}  // namespace vtgui
