// Whether the program's standard output is a terminal (then the front end
// draws progress bars). One implementation per system: terminal_posix.cpp,
// terminal_win32.cpp.
#pragma once

namespace vtcli {

bool StdoutIsTerminal();

}  // namespace vtcli
