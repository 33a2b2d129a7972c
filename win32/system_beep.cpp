// The system's beep for the desktop program's message sink. A file of its own,
// because user32's MessageBeep shares its name with the program's.
#include <windows.h>

#include "system_beep.h"

namespace vtwin {

void SystemBeep(unsigned type) { ::MessageBeep(type); }

}  // namespace vtwin
