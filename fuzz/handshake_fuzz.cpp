// The handshake's reading of the loader's banner (the text between "QZ" and
// "Build") and of an MV2 loader's board text (between "Board" and "Loader").
//
// Input: a byte that says where the banner ends, the banner, the board text.
// Oracles: the scanner counts as identified exactly when the banner carries
// "version"; the family is the model digit's unless the loader version is 3
// or later (MV2); where the numbers after "version" are plain decimal, the
// loader and board versions are the numbers the text shows.
#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "link/handshake.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The numbers "a.b.c" (count of them) after the first "version" of text and
// the blanks behind it, read as plain decimal numbers; missing numbers are 0.
// Nothing when the text is not plain enough to know the answer without
// repeating the reader (signs, white space, octal and hexadecimal forms,
// numbers of more than six digits).
std::optional<std::array<long long, 3>> PlainVersion(std::string_view text, int count) {
  std::array<long long, 3> numbers{0, 0, 0};
  size_t at = text.find("version");
  if (at == std::string_view::npos) return std::nullopt;
  at += 7;
  while (at < text.size() && text[at] == ' ') ++at;
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if (at >= text.size() || text[at] != '.') return numbers;
      ++at;
    }
    if (at >= text.size()) return numbers;
    const char first = text[at];
    if (!IsDigit(first)) {
      const bool unsure = first == '+' || first == '-' || first == ' ' || (first >= '\t' && first <= '\r');
      if (unsure) return std::nullopt;
      return numbers;
    }
    size_t end = at;
    while (end < text.size() && IsDigit(text[end])) ++end;
    const size_t digits = end - at;
    const char after = end < text.size() ? text[end] : '\0';
    if (digits > 6 || (first == '0' && (digits > 1 || after == 'x' || after == 'X'))) return std::nullopt;
    numbers[i] = std::stoll(std::string(text.substr(at, digits)));
    at = end;
  }
  return numbers;
}

int Clamp(long long value) {
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const std::string banner = input.Text(255);
  const std::string board = input.Rest();

  const BannerFacts facts = ReadBanner(Bytes(banner), banner.size());
  const bool hasVersion = banner.find("version") != std::string::npos;
  fuzz::Check(facts.identified == hasVersion, "identified exactly when the banner carries version");
  // The family codes as the banner gives them, independent of the table.
  const int family = static_cast<int>(facts.family);
  int digitFamily = 0;
  if (!banner.empty() && banner[0] == '5') digitFamily = 5;
  if (!banner.empty() && banner[0] == '6') digitFamily = 6;
  if (!hasVersion) {
    fuzz::Check(family == digitFamily, "the model digit names the family");
  } else if (const auto plain = PlainVersion(banner, 3)) {
    const auto& v = *plain;
    fuzz::Check(facts.loaderVersion == Clamp(v[0] * 10000 + v[1] * 100 + v[2]), "loader version as shown");
    fuzz::Check(family == (v[0] >= 3 ? 2 : digitFamily), "loaders from 3 on are MV2");
  } else {
    fuzz::Check(family == digitFamily || family == 2, "family is the digit's or MV2");
  }

  int boardVersion = -12345;
  const bool boardRead = ReadBoardVersion(Bytes(board), board.size(), &boardVersion);
  fuzz::Check(boardRead == (board.find("version") != std::string::npos),
              "board version read exactly when the board text carries version");
  if (!boardRead) {
    fuzz::Check(boardVersion == -12345, "no board version without version");
  } else if (const auto plain = PlainVersion(board, 2)) {
    fuzz::Check(boardVersion == Clamp((*plain)[0] * 10 + (*plain)[1]), "board version as shown");
  }
  return 0;
}
