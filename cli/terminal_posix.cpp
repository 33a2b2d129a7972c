#include <unistd.h>

#include "terminal.h"

namespace vtcli {

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

}  // namespace vtcli
