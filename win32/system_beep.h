// user32's MessageBeep under a name that does not clash with the program's.
#pragma once

namespace vtwin {

void SystemBeep(unsigned type);

}  // namespace vtwin
