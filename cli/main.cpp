// vantorel-cli: hands the command line, the standard streams and the
// operator's stop requests (Ctrl-C, SIGTERM) over to the front end in
// cli_app.cpp.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "cli_app.h"
#include "stop_signals.h"
#include "terminal.h"

namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_stationWaiting{false};
// Set before the handler is installed and never again: a check answers no
// stop request, so the first one ends it.
std::atomic<bool> g_leaveAtFirst{false};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnInterrupt(int) {
  // A check leaves at the first request. A run: the first ends every run (a
  // port whose scanner writes its flash once the write has ended); a second
  // one leaves at once, whatever the first is still waiting for. While the
  // station waits for its runs it leaves itself at the second, within one
  // look at its panels, after warning about every scanner that still writes
  // its flash; a third leaves here in any case.
  const int before = g_interrupts.fetch_add(1);
  if (g_leaveAtFirst.load() || before >= 2 || (before >= 1 && !g_stationWaiting.load())) {
    std::_Exit(vtcli::kExitFailed);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The mode is known before the first request can come: a request that
  // arrives while the check starts up must not be counted for nobody.
  vtcli::Arguments parsed;
  if (vtcli::ParseArguments(args, parsed).empty()) {
    g_leaveAtFirst = !parsed.help && (parsed.check || !parsed.checkImage.empty());
  }
  vtcli::InstallStopHandlers(OnInterrupt);
  vtcli::Environment env;
  env.out = stdout;
  env.err = stderr;
  env.terminal = vtcli::StdoutIsTerminal();
  env.interrupts = &g_interrupts;
  env.stationWaiting = &g_stationWaiting;
  std::error_code ec;
  env.currentDir = std::filesystem::current_path(ec).string();
  try {
    return vtcli::Main(args, env);
  } catch (const std::bad_alloc&) {
    // The check reports a file it has no room for as a problem of its own;
    // this is for whatever else runs out.
    std::fputs("vantorel-cli: not enough memory\n", stderr);
    return vtcli::kExitFailed;
  }
}
