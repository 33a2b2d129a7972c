#include "relay.h"

#include "windows_api.h"

namespace vtwin {

Relay::Relay(HWND window, unsigned message) : gate_(std::make_shared<Gate>()) {
  gate_->window = window;
  gate_->message = message;
}

Relay::~Relay() { Detach(); }

std::function<void()> Relay::Poster() const {
  return [gate = gate_] { gate->Post(); };
}

void Relay::Gate::Post() {
  if (pending.exchange(true)) return;
  std::lock_guard<std::mutex> lock(mutex);
  // Posting only queues a message: the lock is never held while waiting for
  // the window thread.
  if (window != nullptr) ::PostMessageW(window, message, 0, 0);
}

bool Relay::Take() {
  gate_->pending.store(false);
  std::lock_guard<std::mutex> lock(gate_->mutex);
  return gate_->window != nullptr;
}

void Relay::Detach() {
  std::lock_guard<std::mutex> lock(gate_->mutex);
  gate_->window = nullptr;
}

}  // namespace vtwin
