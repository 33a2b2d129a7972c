// Carries a change made on a port thread (progress moved, port button enabled
// or disabled) to a view on the window thread. A port thread calls the
// relay's poster, which queues one call of the refresh on the window thread;
// further posts before that refresh has run are folded into it, since the
// refresh reads the model's current values anyway. No port thread ever
// touches a widget or waits for the window thread.
//
// The call is queued by name, so that nothing a port thread made is read on
// the window thread except through the relay's own lock and flag. The relay
// is a child of its view; once it is detached (or gone), a poster that a
// port thread still runs queues nothing.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace vtgui {

class UiRelay : public QObject {
  Q_OBJECT

 public:
  // refresh runs on the window thread, only while the relay is attached.
  UiRelay(QObject* parent, std::function<void()> refresh);
  ~UiRelay() override;

  // For any thread: schedules one refresh unless one is already pending.
  std::function<void()> Poster() const;
  // Window thread: no refresh runs or is scheduled after this returns.
  void Detach();

 private slots:
  void Run();

 private:
  // What the port threads hold: outlives the relay, and knows whether it
  // still exists.
  struct Gate {
    std::mutex mutex;  // guards relay
    UiRelay* relay = nullptr;
    std::atomic<bool> pending{false};
    void Post();
  };

  const std::shared_ptr<Gate> gate_;
  const std::function<void()> refresh_;  // window thread only
};

}  // namespace vtgui
