#include "ui_relay.h"

namespace vtgui {

std::shared_ptr<UiRelay> UiRelay::Create(QObject* target, std::function<void()> refresh) {
  return std::shared_ptr<UiRelay>(new UiRelay(target, std::move(refresh)));
}

void UiRelay::Post() {
  if (pending_.exchange(true)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (target_ == nullptr) return;
  // Posting only queues an event: the lock is never held while waiting for
  // the window thread.
  QMetaObject::invokeMethod(
      target_, [self = shared_from_this()] { self->Run(); }, Qt::QueuedConnection);
}

void UiRelay::Detach() {
  std::lock_guard<std::mutex> lock(mutex_);
  target_ = nullptr;
}

void UiRelay::Run() {
  // Cleared first: a change made while the refresh reads the model posts
  // again and is not lost.
  pending_.store(false);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (target_ == nullptr) return;
  }
  refresh_();
}

}  // namespace vtgui
