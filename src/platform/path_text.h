// File system paths and the program's 8-bit texts. Every path the program
// keeps (settings, log folder, program folder) is text in UTF-8, which is
// also what the system's 8-bit file calls take (the Windows program runs
// with UTF-8 as its code page). std::filesystem reads a plain string in
// another encoding on Windows, so paths pass through these two.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

inline std::filesystem::path PathFromText(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string TextFromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace platform
