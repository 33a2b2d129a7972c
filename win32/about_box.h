// The About box (template 100): the program's icon, its name and version, a
// line about what it does, and OK. Modal over its owner.
#pragma once

#include "handles.h"

namespace vtwin {

void RunAboutBox(HWND owner);

}  // namespace vtwin
