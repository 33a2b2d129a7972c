// GetSpecialBlock: reads the scanner's special block (its serial number and
// own data, the 64 bytes at the top of the loader's range) through the
// loader's memory dump, so the loader update can keep it.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/comm_dialog.h"
#include "link/response.h"
#include "link/scanner_family.h"
#include "platform/format.h"
#include "platform/message_box.h"
#include "update/engine_frame.h"
#include "update/engines.h"

namespace {

// Loaders before 1.1.1 have the dump under another key.
constexpr int kDumpKeyChangeVersion = 10101;
constexpr uint32_t kPromptMs = 3000;
constexpr uint32_t kDumpTextMs = 4000;
// The text between the markers: at most 399 characters are kept.
constexpr size_t kCaptureBytes = 400;

struct DumpRange {
  std::string startTyped;
  std::string endTyped;
  std::string startMarker;
  std::string endMarker;
};

DumpRange RangeFor(int family) {
  if (family == kFamilyMV2) {
    return {Format("%.5X\r", 0x1FFC0), Format("%.5X\r", 0x20000), Format("%.5x", 0x1FFC0),
            Format("%.8x", 0x20000)};
  }
  return {Format("%.4X\r", 0xFFC0), Format("%.5X\r", 0x10000), Format("%.4x", 0xFFC0),
          Format("%.8x", 0x10000)};
}

UpdateStatus WriteText(CCommDialog* panel, const std::string& text) {
  return EngineTypeText(panel, text.data(), text.size());
}

bool IsBytePiece(const char* piece, size_t length) {
  return length == 2 && std::isxdigit(static_cast<unsigned char>(piece[0])) &&
         std::isxdigit(static_cast<unsigned char>(piece[1]));
}

}  // namespace

// Pieces split at blanks and tabs only, each two-digit piece one byte. Line
// ends are no separators, so the last byte of a line glued to the next line's
// address is skipped with it. A two-character piece that is not hexadecimal (a
// stray CR LF between blanks) is no byte either: reading it as 0 would put a
// false byte into the special block.
UpdateStatus DecodeDump(const char* text, uint8_t* bytes, unsigned limit, unsigned* count) {
  unsigned n = 0;
  bool first = true;
  const char* p = text;
  while (n < limit) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') break;
    const char* piece = p;
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    size_t length = static_cast<size_t>(p - piece);
    if (IsBytePiece(piece, length)) {
      char digits[3] = {piece[0], piece[1], '\0'};
      bytes[n++] = static_cast<uint8_t>(std::strtoul(digits, nullptr, 16));
    } else if (first) {
      return UPD_BAD_DUMP;
    }
    first = false;
  }
  if (first) return UPD_BAD_DUMP;
  *count = n;
  return UPD_OK;
}

UpdateStatus GetSpecialBlock(CCommDialog* panel, int family, uint8_t* bytes, unsigned limit,
                             unsigned* count) {
  *count = 0;
  const unsigned version = static_cast<unsigned>(panel->m_nLoaderVersion.load());
  const uint8_t key = version < kDumpKeyChangeVersion ? '4' : '7';
  const DumpRange range = RangeFor(family);

  UpdateStatus result = EngineLinkCheck(panel);
  if (result != UPD_OK) return result;

  result = EngineTypeKey(panel, key);
  if (result != UPD_OK) return result;
  result = WaitForPair(panel, kPromptMs, "Dump", "0x1234abcd", nullptr, nullptr);
  if (result == UPD_TIMEOUT) {
    ShowError(panel->m_szPortName, "GetSpecialBlock: No response Dump");
    return result;
  }
  if (result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;

  result = WriteText(panel, range.startTyped);
  if (result != UPD_OK) return result;
  result = WaitForPair(panel, kPromptMs, "End Address", "0xabcd1234", nullptr, nullptr);
  if (result == UPD_TIMEOUT) {
    ShowError(panel->m_szPortName, "GetSpecialBlock: No response End Address");
    return result;
  }
  if (result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;

  result = WriteText(panel, range.endTyped);
  if (result != UPD_OK) return result;
  char text[kCaptureBytes] = {};
  size_t copied = 0;
  result = WaitBetween(panel, kDumpTextMs, reinterpret_cast<uint8_t*>(text), kCaptureBytes - 1,
                       range.startMarker.c_str(), range.endMarker.c_str(), &copied);
  if (result == UPD_TIMEOUT) {
    ShowError(panel->m_szPortName, "GetSpecialBlock: No response Memory Data");
    ShowError(panel->m_szPortName, "Dump Memory. addr1: " + range.startMarker +
                                       "  addr2: " + range.endMarker + " ");
    return result;
  }
  if (result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;
  text[result == UPD_OK && copied < kCaptureBytes ? copied : 0] = '\0';

  return DecodeDump(text, bytes, limit, count);
}
