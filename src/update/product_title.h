// String resource 102, the product title: the main window's and the log
// window's caption, and the name the programming sequence gives itself when it
// refuses a firmware file.
#pragma once

inline constexpr const char* kProductTitle = "ZEV QZ600/700 Vantorel";
