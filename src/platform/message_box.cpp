// The message boxes of the program, each built into a caption and a text and
// handed to the process's sink.
#include "platform/message_box.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<MessageSink*> g_sink{nullptr};

// The longest text an API error box carries: the box was filled into a
// 512-byte buffer, so longer system descriptions are cut.
constexpr size_t kApiErrorTextMax = 511;

std::string Name(const char* portName) { return portName != nullptr ? portName : ""; }

void Show(BoxKind kind, const std::string& caption, const std::string& text) {
  if (MessageSink* sink = g_sink.load(std::memory_order_acquire)) sink->Show(kind, caption, text);
}

}  // namespace

void InstallMessageSink(MessageSink* sink) { g_sink.store(sink, std::memory_order_release); }

MessageSink* CurrentMessageSink() { return g_sink.load(std::memory_order_acquire); }

ScopedBoxRelease::ScopedBoxRelease(std::initializer_list<std::thread::id> threads)
    : sink_(CurrentMessageSink()) {
  for (std::thread::id thread : threads) {
    if (thread == std::thread::id()) continue;
    threads_.push_back(thread);
    if (sink_ != nullptr) sink_->ReleaseThread(thread);
  }
}

ScopedBoxRelease::~ScopedBoxRelease() {
  // The sink that released the threads forgets them, even if another was
  // installed meanwhile.
  if (sink_ == nullptr) return;
  for (std::thread::id thread : threads_) sink_->ForgetThread(thread);
}

}  // namespace platform

using platform::BoxKind;

void ShowError(const char* portName, const std::string& text) {
  platform::Show(BoxKind::kError, platform::Name(portName) + ": Error", text);
}

void ShowWarning(const char* portName, const std::string& text) {
  platform::Show(BoxKind::kWarning, platform::Name(portName) + ": Warning", text);
}

void ShowNotice(const char* portName, const std::string& text) {
  platform::Show(BoxKind::kNotice, platform::Name(portName) + ": ", text);
}

void ShowPlainError(const std::string& text) { platform::Show(BoxKind::kPlainError, "Error", text); }

void ShowApiError(const char* portName, const std::string& text, int errorCode) {
  ShowApiErrorDetails(portName, text, platform::SystemErrorText(errorCode));
}

void ShowApiErrorDetails(const char* portName, const std::string& text, const std::string& details) {
  const std::string name = platform::Name(portName);
  std::string full = name + ":" + text + "\nAPI details:" + details;
  if (full.size() > platform::kApiErrorTextMax) full.resize(platform::kApiErrorTextMax);
  platform::Show(BoxKind::kApiError, name, full);
}

void ShowInfo(const std::string& text) { platform::Show(BoxKind::kInfo, "Vantorel", text); }

void MessageBeep(uint32_t type) {
  if (platform::MessageSink* sink = platform::CurrentMessageSink()) sink->Beep(type);
}
