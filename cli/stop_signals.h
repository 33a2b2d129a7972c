// The operator's stop requests as the system delivers them: Ctrl-C (SIGINT)
// and a request to end (SIGTERM). main.cpp installs one handler for both,
// once, before any thread starts. One implementation per system:
// stop_signals_posix.cpp, stop_signals_win32.cpp.
#pragma once

namespace vtcli {

// Makes handler run at every SIGINT and SIGTERM for the rest of the process.
// The handler may be entered on any thread; it stays installed after each
// request, and the system makes it no other call.
void InstallStopHandlers(void (*handler)(int));

}  // namespace vtcli
