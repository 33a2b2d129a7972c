#include <csignal>

#include "stop_signals.h"

namespace vtcli {

namespace {

// The C runtime here has only signal(), which puts the default back before
// it calls a handler: the handler is installed again for the signal that
// came (the one call signal() allows inside a handler), then the program's
// handler runs.
void (*g_handler)(int) = nullptr;

extern "C" void OnStopSignal(int signal) {
  std::signal(signal, OnStopSignal);
  g_handler(signal);
}

}  // namespace

void InstallStopHandlers(void (*handler)(int)) {
  g_handler = handler;
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}

}  // namespace vtcli
