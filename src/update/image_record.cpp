#include "update/image_record.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "firmware/file_access.h"
#include "firmware/hex_digit.h"
#include "link/comm_dialog.h"
#include "link/line_watch.h"
#include "platform/format.h"
#include "platform/message_box.h"
#include "platform/time.h"

namespace {

ThroughputFigures g_rcpFigures;
ThroughputFigures g_vtcFigures;

// The byte of the digit pair at text[at]; -1 when a digit is not hex.
int HexByte(const char* text, size_t at) {
  const int high = HexDigit(text[at]);
  const int low = HexDigit(text[at + 1]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Frees a data list being built unless it is handed out.
struct ListGuard {
  ImageRecord* head = nullptr;
  ~ListGuard() { FreeRecordList(head); }
  ImageRecord* Release() { return std::exchange(head, nullptr); }
};

// Byte count that a record of this type needs at least: its address field
// and the checksum.
uint32_t MinimumByteCount(int type) { return type == 3 || type == 7 ? 5 : 3; }

// Why a kept record line cannot be sent as it stands; null when it is sound.
// The record is sent as text, but a data record is also cut at 64 KB
// boundaries by its byte count and gets new checksums when cut, so text,
// byte count and checksum must agree or the scanner would store wrong data.
const char* RecordFault(std::string_view content, int type, uint32_t& byteCount, uint32_t& address) {
  if (content.size() < 4 || (content.size() - 2) % 2 != 0) return "byte count does not match the line";
  // A line of at most 79 characters holds at most 38 digit pairs.
  uint8_t bytes[kRecordTextBytes / 2];
  size_t pairs = 0;
  for (size_t at = 2; at + 1 < content.size() && pairs < sizeof bytes; at += 2) {
    const int byte = HexByte(content.data(), at);
    if (byte < 0) return "bad hexadecimal digit";
    bytes[pairs++] = static_cast<uint8_t>(byte);
  }
  byteCount = bytes[0];
  if (byteCount + 1 != pairs) return "byte count does not match the line";
  if (byteCount < MinimumByteCount(type)) return "byte count too small for the record type";
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < pairs; ++i) sum += bytes[i];
  if (static_cast<uint8_t>(~sum) != bytes[pairs - 1]) return "bad checksum";
  address = type == 3 ? (uint32_t{bytes[1]} << 24) | (uint32_t{bytes[2]} << 16) |
                            (uint32_t{bytes[3]} << 8) | bytes[4]
                      : 0;
  // Data beyond the last address has no place in the scanner's memory; cut
  // at the 64 KB boundary there, its tail would be sent to address 0.
  if (type == 3 && uint64_t{address} + (byteCount - 5) > (uint64_t{1} << 32)) {
    return "data runs past address FFFFFFFF";
  }
  return nullptr;
}

bool IsLineSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// A line that holds no record: white space only, or the end-of-file mark
// (Ctrl-Z) that old DOS tools leave behind.
bool IsBlank(std::string_view content) {
  return std::all_of(content.begin(), content.end(),
                     [](char c) { return IsLineSpace(c) || c == '\x1A'; });
}

// Bytes of a line as read from the file: a record of 79 characters and the
// blanks or tabs that some editors and tools leave after it.
constexpr size_t kFileLineBytes = 256;

enum class Kind { kRCP, kVTC };

UpdateStatus SendRecord(CCommDialog* panel, ImageRecord* record, uint32_t expectedTotal,
                        uint32_t* sent, Kind kind, bool splitApplies) {
  bool split = false;
  // Cut a data record whose data runs over a 64 KB boundary with at least one
  // byte beyond it: the loader writes one 64 KB block per flash write.
  if (splitApplies && RunsOver64K(*record)) {
    const uint32_t n = record->byteCount - 5;
    const uint32_t end = record->address + n;
    const uint32_t high = end >> 16;
    const uint32_t low = end & 0xFFFF;
    auto* second = new (std::nothrow) ImageRecord;
    if (!second) {
      ShowError(panel->m_szPortName, "Memory allocation failed\n");
      return UPD_NO_MEMORY;
    }
    second->byteCount = low + 5;
    second->address = high << 16;
    char head[16];
    std::snprintf(head, sizeof head, "S3%02X%04X0000", second->byteCount, high);
    std::memcpy(second->text, head, 12);
    std::memcpy(second->text + 12, record->text + 12 + 2 * (n - low), 2 * low);
    SetRecordChecksum(second);

    record->byteCount = n - low + 5;
    std::snprintf(head, sizeof head, "%02X", record->byteCount);
    std::memcpy(record->text + 2, head, 2);
    SetRecordChecksum(record);

    second->next = record->next;
    record->next = second;
    split = true;
  }

  const uint32_t start = platform::GetTickCount();
  // A failed write means the port was closed (Reset, teardown) or has gone:
  // the loader did not get the record, so the download cannot go on.
  const UpdateStatus written =
      WriteTransferBlock(panel, record->text, static_cast<uint32_t>(record->length));
  if (written != UPD_OK) return written;
  const uint32_t elapsed = platform::GetTickCount() - start;

  ThroughputFigures& figures = kind == Kind::kRCP ? g_rcpFigures : g_vtcFigures;
  figures.milliseconds.fetch_add(elapsed);
  figures.bytes.fetch_add(static_cast<uint32_t>(record->length));
  *sent += static_cast<uint32_t>(record->length);

  // The rate is measured over the writes since the last progress line, once
  // at least one tick has passed in them; until then the last rate is shown.
  uint32_t rate = figures.lastRate.load();
  const bool measured = figures.milliseconds.load() != 0;
  if (measured) {
    const uint32_t ms = figures.milliseconds.exchange(0);
    const uint32_t bytes = figures.bytes.exchange(0);
    if (ms != 0) {
      rate = static_cast<uint32_t>(uint64_t{bytes} * 1000 / ms);
      figures.lastRate.store(rate);
    }
  }
  const bool last = *sent == expectedTotal;
  // RCP records are small and many: its line is written only when a rate was
  // measured or the transfer is complete.
  if (kind == Kind::kVTC || measured || last) {
    if (kind == Kind::kRCP && !measured) {
      figures.milliseconds.store(0);
      figures.bytes.store(0);
    }
    const long percent = expectedTotal == 0 ? 100L : static_cast<long>(uint64_t{*sent} * 100 / expectedTotal);
    panel->ShowStatus(Format("%s %dKB %ld bytes/sec %ld%%", kind == Kind::kRCP ? "RCP" : "VTC",
                             static_cast<int>(expectedTotal / 1024), static_cast<long>(rate),
                             percent));
  }
  panel->m_progress.SetPos(expectedTotal == 0
                               ? 1000
                               : static_cast<int>(uint64_t{*sent} * 1000 / expectedTotal));
  return split ? UPD_SPLIT_AT_64K : UPD_OK;
}

}  // namespace

bool RunsOver64K(const ImageRecord& record) {
  if (record.text[1] != '3' || record.byteCount < 5 ||
      2 * size_t{record.byteCount} + 6 > kRecordTextBytes) {
    return false;
  }
  const uint32_t end = record.address + (record.byteCount - 5);
  const uint32_t low = end & 0xFFFF;
  return (record.address & 0xFFFF) > low && low != 0;
}

LineEnd ReadFileLine(std::FILE* file, char* buffer, size_t capacity, size_t& length) {
  length = 0;
  for (;;) {
    const int c = std::getc(file);
    if (c == EOF) {
      if (std::ferror(file)) return LineEnd::kReadFailed;
      return length < capacity ? LineEnd::kEndOfFile : LineEnd::kTooLong;
    }
    if (length >= capacity) {
      // No room for this byte: skip to the end of the line so the next line
      // starts where it should.
      if (c != '\n') ++length;
      while (c != '\n') {
        const int skipped = std::getc(file);
        if (skipped == EOF) return std::ferror(file) ? LineEnd::kReadFailed : LineEnd::kTooLong;
        if (skipped == '\n') break;
        ++length;
      }
      return LineEnd::kTooLong;
    }
    buffer[length] = static_cast<char>(c);
    if (c == '\n') return LineEnd::kLineFeed;
    ++length;
  }
}

UpdateStatus ReadRCPFile(CCommDialog* panel, const std::string& path, ImageRecord* header,
                         ImageRecord** dataList, ImageRecord* count, ImageRecord* termination,
                         uint32_t* expectedTotal, unsigned* lines) {
  uint32_t fileSize = 0;
  UpdateStatus opened = UPD_OK;
  FilePtr file = OpenFirmwareFile(panel, path, "ReadRCPFile : CreateFile", fileSize, opened);
  if (!file) return opened;
  const char* name = panel->m_szPortName;
  auto badImage = [&](const std::string& text) {
    ShowError(name, text);
    return UPD_BAD_IMAGE;
  };

  ListGuard list;
  ImageRecord* tail = nullptr;
  bool ordered = true;
  uint32_t total = 0;
  char line[kFileLineBytes];
  const std::string tooLong = Format("longer than %u characters", static_cast<unsigned>(kRecordTextBytes - 1));
  unsigned lineNumber = 0;
  struct LineReport {
    unsigned* out;
    const unsigned& number;
    ~LineReport() {
      if (out) *out = number;
    }
  } report{lines, lineNumber};
  for (;;) {
    // A long image read ends at Reset like everything else of the run.
    if (panel->m_bAbort) return UPD_ABORTED;
    ++lineNumber;
    size_t length = 0;
    const LineEnd end = ReadFileLine(file.get(), line, sizeof line, length);
    if (end == LineEnd::kReadFailed) {
      ShowError(name, "Cannot read from file\n");
      return UPD_READ_FAILED;
    }
    if (end == LineEnd::kEndOfFile && length == 0) {
      --lineNumber;  // no line was left
      break;
    }
    if (end == LineEnd::kTooLong) {
      // Lines of record types that are not sent may be skipped whatever
      // their length; a kept record cannot be sent cut short.
      const bool record = line[0] == 'S' && line[1] >= '0' && line[1] <= '9';
      const int type = record ? line[1] - '0' : -1;
      if (!record || type == 0 || type == 3 || type == 5 || type == 7) {
        return badImage(Format("Image file line %u: %s", lineNumber, tooLong.c_str()));
      }
      continue;
    }
    // The record without its line end: the carriage return and any blanks or
    // tabs after the record are not part of it, so they are dropped before
    // the record is checked and are not sent. The record keeps the file's
    // line end (CR LF when the line had a carriage return).
    std::string_view content(line, length);
    bool carriageReturn = false;
    while (!content.empty() && IsLineSpace(content.back())) {
      carriageReturn = carriageReturn || content.back() == '\r';
      content.remove_suffix(1);
    }
    if (IsBlank(content)) {
      if (end == LineEnd::kEndOfFile) break;
      continue;
    }
    if (content.size() < 2 || content[0] != 'S' || content[1] < '0' || content[1] > '9') {
      return badImage(Format("Image file line %u: not an S-record", lineNumber));
    }
    const int type = content[1] - '0';
    if (type != 0 && type != 3 && type != 5 && type != 7) {
      if (end == LineEnd::kEndOfFile) break;
      continue;
    }
    // A kept record is sent whole in one record text, its line end included.
    const size_t lineEnd = carriageReturn ? 2 : 1;
    if (content.size() + lineEnd > kRecordTextBytes) {
      return badImage(Format("Image file line %u: %s", lineNumber, tooLong.c_str()));
    }
    uint32_t byteCount = 0, address = 0;
    if (const char* fault = RecordFault(content, type, byteCount, address)) {
      return badImage(Format("Image file line %u: %s", lineNumber, fault));
    }
    // The record is sent as it was read, with its line end; a last line
    // without a line feed is completed so that the loader sees the record end.
    size_t kept = content.size();
    if (carriageReturn) line[kept++] = '\r';
    line[kept] = '\n';
    const int32_t stored = static_cast<int32_t>(kept + 1);
    total += static_cast<uint32_t>(stored);

    ImageRecord* slot = nullptr;
    if (type == 3) {
      slot = new (std::nothrow) ImageRecord;
      if (!slot) {
        ShowError(name, "Memory allocation failed\n");
        return UPD_NO_MEMORY;
      }
      // Images are written in ascending order as a rule: append at the tail
      // and sort once at the end only if the file was out of order.
      if (tail) {
        if (address < tail->address) ordered = false;
        tail->next = slot;
      } else {
        list.head = slot;
      }
      tail = slot;
    } else if (type == 0) {
      slot = header;
    } else if (type == 5) {
      slot = count;
    } else {
      slot = termination;
    }
    std::memcpy(slot->text, line, static_cast<size_t>(stored));
    slot->length = stored;
    slot->byteCount = byteCount;
    slot->address = address;
    if (end == LineEnd::kEndOfFile) break;
  }

  if (!ordered) {
    try {
      std::vector<ImageRecord*> records;
      for (ImageRecord* r = list.head; r; r = r->next) records.push_back(r);
      // Stable: records with equal addresses keep their file order.
      std::stable_sort(records.begin(), records.end(),
                       [](const ImageRecord* a, const ImageRecord* b) { return a->address < b->address; });
      for (size_t i = 0; i < records.size(); ++i) {
        records[i]->next = i + 1 < records.size() ? records[i + 1] : nullptr;
      }
      list.head = records.front();
    } catch (const std::bad_alloc&) {
      ShowError(name, "Memory allocation failed\n");
      return UPD_NO_MEMORY;
    }
  }
  *dataList = list.Release();
  *expectedTotal += total;
  return UPD_OK;
}

UpdateStatus SendRCPRecord(CCommDialog* panel, ImageRecord* record, uint32_t expectedTotal,
                           uint32_t* sent, bool blockMode) {
  return SendRecord(panel, record, expectedTotal, sent, Kind::kRCP, blockMode);
}

UpdateStatus SendVTCRecord(CCommDialog* panel, ImageRecord* record, uint32_t expectedTotal,
                           uint32_t* sent) {
  return SendRecord(panel, record, expectedTotal, sent, Kind::kVTC, true);
}

UpdateStatus SendImageBlock(CCommDialog* panel, RecordSender send, ImageRecord** cursor,
                            uint32_t expectedTotal, uint32_t* sent, uint16_t* records) {
  if (*cursor == nullptr) return UPD_OK;
  const uint32_t page = (*cursor)->address >> 16;
  while (*cursor) {
    ImageRecord* record = *cursor;
    if (*records > 0 && (record->address >> 16) != page) return UPD_OK;
    const UpdateStatus result = send(panel, record, expectedTotal, sent, true);
    if (result != UPD_OK && result != UPD_SPLIT_AT_64K) return result;
    // The loader counts records in 16 bits, so the count record wraps too.
    ++*records;
    *cursor = record->next;
    if (result == UPD_SPLIT_AT_64K) return UPD_OK;
  }
  return UPD_OK;
}

unsigned CountImageBlocks(const ImageRecord* first) {
  unsigned blocks = 0;
  uint32_t page = 0;
  for (const ImageRecord* r = first; r; r = r->next) {
    if (blocks == 0 || r->address >> 16 != page) {
      ++blocks;
      page = r->address >> 16;
    }
    if (RunsOver64K(*r)) {
      ++blocks;
      page = (r->address + r->byteCount - 5) >> 16;
    }
  }
  return blocks == 0 ? 1 : blocks;
}

bool SetRecordChecksum(ImageRecord* record) {
  const size_t n = record->byteCount;
  if (2 * n + 6 > kRecordTextBytes) return false;
  uint32_t sum = 0;
  for (size_t i = 1; i <= n; ++i) {
    const int byte = HexByte(record->text, 2 * i);
    sum += byte < 0 ? 0u : static_cast<uint32_t>(byte);
  }
  char checksum[4];
  std::snprintf(checksum, sizeof checksum, "%02X", ~sum & 0xFFu);
  record->text[2 * n + 2] = checksum[0];
  record->text[2 * n + 3] = checksum[1];
  record->text[2 * n + 4] = '\r';
  record->text[2 * n + 5] = '\n';
  record->length = static_cast<int32_t>(2 * n + 6);
  return true;
}

void MakeCountRecord(ImageRecord* record, uint32_t count) {
  char head[16];
  std::snprintf(head, sizeof head, "S505%08X", count);
  std::memcpy(record->text, head, 12);
  record->byteCount = 5;
  record->address = 0;
  SetRecordChecksum(record);
}

void FreeRecordList(ImageRecord* first) {
  while (first) {
    ImageRecord* next = first->next;
    delete first;
    first = next;
  }
}

ThroughputFigures& RcpThroughput() { return g_rcpFigures; }
ThroughputFigures& VtcThroughput() { return g_vtcFigures; }

void ResetThroughputFigures() {
  for (ThroughputFigures* figures : {&g_rcpFigures, &g_vtcFigures}) {
    figures->milliseconds.store(0);
    figures->bytes.store(0);
    figures->lastRate.store(0);
  }
}
