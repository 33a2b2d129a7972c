// The memory dump decoder over arbitrary text, and over dumps laid out as the
// loader lays them out.
//
// Input: a limit byte, a mode byte, then either the text to decode or the
// bytes of a dump that the scanner simulator formats.
// Oracles: a dump as the loader sends it gives back exactly its bytes; any
// text gives at most limit bytes, each of them a blank-separated two-digit
// piece of the text, in order (all of them up to the limit), and UPD_BAD_DUMP exactly when the text does
// not begin with such a piece.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "loader_texts.h"
#include "support/dump_pieces.h"
#include "update/engines.h"

namespace {

bool IsBytePiece(const std::string& piece) {
  return piece.size() == 2 && fuzz::HexDigit(piece[0]) >= 0 && fuzz::HexDigit(piece[1]) >= 0;
}

// The text GetSpecialBlock keeps: what lies between the start address marker
// and the end address marker, at most 399 characters.
std::string Captured(const std::string& dump, const std::string& startMarker,
                     const std::string& endMarker) {
  const size_t start = dump.find(startMarker);
  fuzz::Check(start != std::string::npos, "start marker in the dump");
  const size_t from = start + startMarker.size();
  const size_t end = dump.find(endMarker, from);
  fuzz::Check(end != std::string::npos, "end marker in the dump");
  return dump.substr(from, std::min<size_t>(end - from, 399));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const unsigned limit = 1 + input.Byte() % 64;
  const uint8_t mode = input.Byte();
  uint8_t bytes[64] = {};
  unsigned count = 0;

  if (mode & 1) {
    // A dump of up to 64 bytes from the special block's place, as the loader
    // prints it.
    const std::string raw = input.Bytes(64);
    const std::vector<uint8_t> block(raw.begin(), raw.end());
    if (block.empty()) return 0;
    const bool mv2 = mode & 2;
    const uint32_t base = mv2 ? 0x1FFC0 : 0xFFC0;
    char startMarker[16], endMarker[16];
    std::snprintf(startMarker, sizeof startMarker, mv2 ? "%.5x" : "%.4x", base);
    std::snprintf(endMarker, sizeof endMarker, "%.8x", base + 0x40);
    const std::string text =
        Captured(scanner::texts::DumpText(base, block, base + 0x40), startMarker, endMarker);
    fuzz::Check(DecodeDump(text.c_str(), bytes, limit, &count) == UPD_OK, "a loader dump decodes");
    const size_t expected = std::min<size_t>(block.size(), limit);
    fuzz::Check(count == expected, "a loader dump gives all its bytes up to the limit");
    fuzz::Check(std::equal(block.begin(), block.begin() + expected, bytes), "a loader dump gives its own bytes");
    return 0;
  }

  const std::string text = input.Rest();
  const std::string terminated = text + '\0';
  count = 0xDEAD;
  const UpdateStatus result = DecodeDump(terminated.c_str(), bytes, limit, &count);
  const std::vector<std::string> pieces = testsupport::DumpPieces(text);
  const bool startsWithByte = !pieces.empty() && IsBytePiece(pieces.front());
  fuzz::Check((result == UPD_BAD_DUMP) != startsWithByte, "UPD_BAD_DUMP exactly when no byte comes first");
  if (result == UPD_BAD_DUMP) return 0;
  fuzz::Check(result == UPD_OK && count <= limit, "UPD_OK within the limit");
  // Every byte piece up to the limit, in order; nothing else.
  std::vector<uint8_t> expected;
  for (const std::string& piece : pieces) {
    if (expected.size() == limit) break;
    if (IsBytePiece(piece)) expected.push_back(static_cast<uint8_t>(std::strtoul(piece.c_str(), nullptr, 16)));
  }
  fuzz::Check(count == expected.size() && std::equal(expected.begin(), expected.end(), bytes),
              "the byte pieces of the text, in order");
  return 0;
}
