// vantorel-cli: hands the command line, the standard streams and Ctrl-C over
// to the front end in cli_app.cpp.
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_app.h"
#include "terminal.h"

namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_stationWaiting{false};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnInterrupt(int) {
  // The first Ctrl-C ends every run (a port whose scanner writes its flash
  // once the write has ended); a second one leaves at once, whatever the
  // first is still waiting for. While the station waits for its runs it
  // leaves itself at the second, within one look at its panels, after
  // warning about every scanner that still writes its flash; a third leaves
  // here in any case.
  const int before = g_interrupts.fetch_add(1);
  if (before >= 2 || (before >= 1 && !g_stationWaiting.load())) std::_Exit(1);
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  vtcli::Environment env;
  env.out = stdout;
  env.err = stderr;
  env.terminal = vtcli::StdoutIsTerminal();
  env.interrupts = &g_interrupts;
  env.stationWaiting = &g_stationWaiting;
  std::error_code ec;
  env.currentDir = std::filesystem::current_path(ec).string();
  std::vector<std::string> args(argv + 1, argv + argc);
  return vtcli::Main(args, env);
}
