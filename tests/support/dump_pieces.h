// The loader's memory dump text cut into pieces the way the loader update
// reads it: pieces between blanks and tabs (a run of them counts as one),
// line ends no separators, the text ending at its first zero byte as the
// captured text does. Shared by the scanner simulator's tests and the dump
// fuzz target, whose oracles restate the decoding from these pieces.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

inline std::vector<std::string> DumpPieces(std::string_view text) {
  std::vector<std::string> pieces;
  std::string piece;
  for (char c : text) {
    if (c == '\0') break;
    if (c == ' ' || c == '\t') {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

}  // namespace testsupport
