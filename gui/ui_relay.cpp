#include "ui_relay.h"

namespace vtgui {

UiRelay::UiRelay(QObject* parent, std::function<void()> refresh)
    : QObject(parent), gate_(std::make_shared<Gate>()), refresh_(std::move(refresh)) {
  gate_->relay = this;
}

UiRelay::~UiRelay() { Detach(); }

std::function<void()> UiRelay::Poster() const {
  return [gate = gate_] { gate->Post(); };
}

void UiRelay::Gate::Post() {
  if (pending.exchange(true)) return;
  std::lock_guard<std::mutex> lock(mutex);
  if (relay == nullptr) return;
  // Posting only queues an event: the lock is never held while waiting for
  // the window thread.
  QMetaObject::invokeMethod(relay, "Run", Qt::QueuedConnection);
}

void UiRelay::Detach() {
  std::lock_guard<std::mutex> lock(gate_->mutex);
  gate_->relay = nullptr;
}

void UiRelay::Run() {
  // Cleared first: a change made while the refresh reads the model posts
  // again and is not lost.
  gate_->pending.store(false);
  {
    std::lock_guard<std::mutex> lock(gate_->mutex);
    if (gate_->relay == nullptr) return;
  }
  refresh_();
}

}  // namespace vtgui
