#include <signal.h>

#include "stop_signals.h"

namespace vtcli {

// One sigaction for both signals: the handler stays installed, a read or
// write it interrupts goes on afterwards, and while it runs for one request
// the other signal waits, so two requests are never counted at once.
void InstallStopHandlers(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace vtcli
