// The window handle type for headers that do not include <windows.h>: the
// same declaration the system's headers make.
#pragma once

struct HWND__;
typedef HWND__* HWND;
