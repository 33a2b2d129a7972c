#include <windows.h>

#include <io.h>
#include <stdio.h>

#include "terminal.h"

namespace vtcli {

// A redirected output is no terminal. The console draws the progress bars'
// cursor and erase sequences only with virtual terminal processing on
// (Windows 10 and later); without it the bars are left out.
bool StdoutIsTerminal() {
  if (_isatty(_fileno(stdout)) == 0) return false;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return false;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace vtcli
