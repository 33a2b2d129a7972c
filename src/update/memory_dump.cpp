// GetSpecialBlock: reads the scanner's special block (its serial number and
// own data, the 64 bytes at the top of the loader's range) through the
// loader's memory dump, so the loader update can keep it.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "firmware/loader_image.h"
#include "link/port_session.h"
#include "link/run_reporter.h"
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

// The special block's bytes, from its base up to the end of the loader's
// range: the start address in the family's digits, the end in five, the
// loader's answer between the start and the end address as it prints them.
DumpRange RangeFor(ScannerFamily family) {
  const ScannerFamilyRow& row = FamilyRow(family);
  const unsigned start = row.specialBlockBase;
  const unsigned end = start + static_cast<unsigned>(kSpecialBlockBytes);
  return {Format("%.*X\r", row.dumpAddressDigits, start), Format("%.*X\r", 5, end),
          Format("%.*x", row.dumpAddressDigits, start), Format("%.*x", 8, end)};
}

UpdateStatus WriteText(PortSession& session, RunReporter& reporter, const std::string& text) {
  return EngineTypeText(session, reporter, text.data(), text.size());
}


// A prompt of the dump dialogue: the pair of texts the loader shows, and the
// error when it does not.
struct DumpPrompt {
  const char* first;
  const char* second;
  const char* noResponse;
};
constexpr DumpPrompt kDumpPrompt{"Dump", "0x1234abcd", "GetSpecialBlock: No response Dump"};
constexpr DumpPrompt kEndPrompt{"End Address", "0xabcd1234",
                                "GetSpecialBlock: No response End Address"};


// Types the key or address and waits for the prompt that answers it. A
// time-out (its error names the prompt), an abort or a line fault ends the
// dump; any other end of the wait goes on, and the dump text tells.
UpdateStatus TypeForPrompt(PortSession& session, RunReporter& reporter, const std::string& typed, const DumpPrompt& prompt) {
  UpdateStatus result = WriteText(session, reporter, typed);
  if (result != UPD_OK) return result;
  result = WaitForPair(session, kPromptMs, Expect{.success = {prompt.first, prompt.second}});
  if (result == UPD_TIMEOUT) reporter.ShowError(prompt.noResponse);
  if (result == UPD_TIMEOUT || result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;
  return UPD_OK;
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

UpdateStatus GetSpecialBlock(PortSession& session, RunReporter& reporter, const RunSettings& run,
                             uint8_t* bytes, unsigned limit, unsigned* count) {
  *count = 0;
  const unsigned version = static_cast<unsigned>(run.loaderVersion);
  const uint8_t key = version < kDumpKeyChangeVersion ? '4' : '7';
  const DumpRange range = RangeFor(run.family);

  UpdateStatus result = EngineLinkCheck(session, reporter);
  if (result != UPD_OK) return result;

  result = TypeForPrompt(session, reporter, std::string(1, static_cast<char>(key)), kDumpPrompt);
  if (result != UPD_OK) return result;
  result = TypeForPrompt(session, reporter, range.startTyped, kEndPrompt);
  if (result != UPD_OK) return result;

  result = WriteText(session, reporter, range.endTyped);
  if (result != UPD_OK) return result;
  char text[kCaptureBytes] = {};
  size_t copied = 0;
  result = WaitBetween(session, kDumpTextMs, reinterpret_cast<uint8_t*>(text), kCaptureBytes - 1,
                       range.startMarker.c_str(), range.endMarker.c_str(), &copied);
  if (result == UPD_TIMEOUT) {
    reporter.ShowError("GetSpecialBlock: No response Memory Data");
    reporter.ShowError("Dump Memory. addr1: " + range.startMarker +
                                       "  addr2: " + range.endMarker + " ");
    return result;
  }
  if (result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;
  text[result == UPD_OK && copied < kCaptureBytes ? copied : 0] = '\0';

  return DecodeDump(text, bytes, limit, count);
}
