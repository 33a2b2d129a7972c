// Texts at the boundary between the core and the Windows API. The core keeps
// its texts as 8-bit strings in UTF-8 (the process's code page, set by the
// program's manifest, so the core's own file calls read the same bytes); the
// windows take UTF-16.
#pragma once

#include <string>

namespace vtwin {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
// The bytes of a traffic log as one character each (Latin-1), so that no
// received byte is lost or merged with its neighbours, with every line end
// made the CR LF an edit box breaks lines at.
std::wstring LogBytesToText(const std::string& bytes);

}  // namespace vtwin
