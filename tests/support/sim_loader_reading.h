// How the program reads the loader's answers, restated for the scanner
// simulator's tests: the banner between "QZ" and "Build" with its family
// digit and "version %i.%i.%i", the MV2 board text between "Board" and
// "Loader" with "version %i.%i", and the memory dump taken between its
// address markers and split into pieces at blanks and tabs. The tests check
// that what the simulator prints reads right this way.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/dump_pieces.h"

namespace simtest {

// The text between the first start and the next end after it.
inline std::optional<std::string> TextBetween(const std::string& text, const std::string& start,
                                              const std::string& end, size_t* after = nullptr) {
  const size_t from = text.find(start);
  if (from == std::string::npos) return std::nullopt;
  const size_t begin = from + start.size();
  const size_t to = text.find(end, begin);
  if (to == std::string::npos) return std::nullopt;
  if (after) *after = to + end.size();
  return text.substr(begin, to - begin);
}

struct BannerReading {
  char familyDigit = 0;
  bool hasVersion = false;
  int major = -1, minor = -1, patch = -1;
  bool hasBoard = false;        // board text between "Board" and "Loader" found after the banner
  bool boardHasVersion = false;
  int boardMajor = -1, boardMinor = -1;
};

inline BannerReading ReadBanner(const std::string& received) {
  BannerReading reading;
  size_t after = 0;
  const auto banner = TextBetween(received, "QZ", "Build", &after);
  if (!banner || banner->empty()) return reading;
  reading.familyDigit = (*banner)[0];
  auto readVersion = [](const std::string& text, int* values, int count) {
    const size_t at = text.find("version");
    if (at == std::string::npos) return false;
    size_t pos = at + 7;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    const std::string rest = text.substr(pos);
    if (count == 3) return std::sscanf(rest.c_str(), "%i.%i.%i", &values[0], &values[1], &values[2]) == 3;
    return std::sscanf(rest.c_str(), "%i.%i", &values[0], &values[1]) == 2;
  };
  int v[3] = {-1, -1, -1};
  reading.hasVersion = readVersion(*banner, v, 3);
  reading.major = v[0];
  reading.minor = v[1];
  reading.patch = v[2];
  const auto board = TextBetween(received.substr(after), "Board", "Loader");
  if (board) {
    reading.hasBoard = true;
    int b[2] = {-1, -1};
    reading.boardHasVersion = readVersion(*board, b, 2);
    reading.boardMajor = b[0];
    reading.boardMinor = b[1];
  }
  return reading;
}

enum class PairResult { kSuccess, kFailure, kSilence };

// The program's wait for a pair of texts, given the loader's answer as the
// bursts it arrives in, followed by silence. The program takes each burst
// whole, examines its window only once it holds twice its longest text, and
// keeps that many bytes after each look, so a text that arrives right before
// the loader falls silent can go unseen.
inline PairResult ReadPair(const std::vector<std::string>& bursts, const char* successA,
                           const char* successB, const char* failureA, const char* failureB) {
  auto given = [](const char* text) { return text != nullptr && text[0] != 0; };
  struct Text {
    std::string text;
    bool lookedFor;
    bool seen;
  };
  Text texts[4] = {{successA, true, false},
                   {given(successB) ? successB : "", given(successB), !given(successB)},
                   {given(failureA) ? failureA : "", given(failureA), false},
                   {given(failureB) ? failureB : "", given(failureA) && given(failureB),
                    given(failureA) && !given(failureB)}};
  size_t longest = 0;
  for (const Text& t : texts) {
    if (t.lookedFor) longest = std::max(longest, t.text.size());
  }
  std::string window;
  for (const std::string& burst : bursts) {
    window += burst;
    if (window.size() < 2 * longest) continue;
    for (Text& t : texts) {
      if (t.lookedFor && window.find(t.text) != std::string::npos) t.seen = true;
    }
    if (texts[0].seen && texts[1].seen) return PairResult::kSuccess;
    if (texts[2].lookedFor && texts[2].seen && texts[3].seen) return PairResult::kFailure;
    window.erase(0, window.size() - longest);
  }
  return PairResult::kSilence;
}

// text cut into bursts of size bytes (the last one shorter).
inline std::vector<std::string> Bursts(const std::string& text, size_t size) {
  std::vector<std::string> bursts;
  for (size_t at = 0; at < text.size(); at += size) bursts.push_back(text.substr(at, size));
  return bursts;
}

// The bytes of a dump text as the program decodes them: pieces between
// blanks and tabs (runs of them count as one), the first piece must be two
// characters long, later pieces of other lengths are skipped. nullopt for a
// text the program rejects.
inline std::optional<std::vector<uint8_t>> DecodeDump(const std::string& text, size_t limit = 100) {
  const std::vector<std::string> pieces = testsupport::DumpPieces(text);
  if (pieces.empty() || pieces[0].size() != 2) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (const std::string& p : pieces) {
    if (bytes.size() >= limit) break;
    if (p.size() == 2) bytes.push_back(static_cast<uint8_t>(std::strtoul(p.c_str(), nullptr, 16)));
  }
  return bytes;
}

}  // namespace simtest
