#include "firmware/loader_image.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/transfer_rate.h"
#include "firmware/hex_digit.h"
#include "link/comm_dialog.h"
#include "link/scanner_family.h"
#include "link/line_watch.h"
#include "platform/format.h"
#include "platform/message_box.h"
#include "platform/time.h"

namespace {

constexpr uint32_t kSpecialBlockBaseMV2 = 0x1FFC0;
constexpr uint32_t kSpecialBlockBaseFirstGen = 0xFFC0;
constexpr const char* kBadDataRecordText = "Loader image: bad data record";

// One record line of the image: its text without the line end, and where the
// next line starts (after the run of CR and LF characters that ends it).
struct Line {
  std::string_view content;
  size_t begin = 0;
  size_t next = 0;

  bool Is(char type) const {
    return content.size() >= 2 && content[0] == 'S' && content[1] == type;
  }
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t position = 0;
  while (position < text.size()) {
    Line line;
    line.begin = position;
    size_t end = position;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    line.content = text.substr(position, end - position);
    while (end < text.size() && (text[end] == '\r' || text[end] == '\n')) ++end;
    line.next = end;
    lines.push_back(line);
    position = end;
  }
  return lines;
}

// The value of digits hex digits at text[at]; nothing when one is not hex.
std::optional<uint32_t> HexField(std::string_view text, size_t at, size_t digits) {
  if (at + digits > text.size()) return std::nullopt;
  uint32_t value = 0;
  for (size_t i = 0; i < digits; ++i) {
    const int digit = HexDigit(text[at + i]);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

// The bytes of a record line (byte count first, checksum last) when its
// digits, its byte count and its checksum agree with each other and with the
// length of the line.
std::optional<std::vector<uint8_t>> SoundRecordBytes(std::string_view content) {
  if (content.size() < 4 || content.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t at = 2; at < content.size(); at += 2) {
    const auto byte = HexField(content, at, 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(*byte));
  }
  if (size_t{bytes[0]} + 1 != bytes.size()) return std::nullopt;
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
  if (static_cast<uint8_t>(~sum & 0xFF) != bytes.back()) return std::nullopt;
  return bytes;
}

// The count field of an S5 record: the digits between the byte count and the
// checksum, whatever their number (the standard's two bytes, or the four this
// program writes). The record must be sound, its checksum included: the
// count is rewritten, and a count record that was already corrupt would
// otherwise come out with a checksum that hides it.
std::optional<uint32_t> RecordCount(std::string_view content) {
  const auto byteCount = HexField(content, 2, 2);
  if (!byteCount || *byteCount < 2 || *byteCount > 5) return std::nullopt;
  if (!SoundRecordBytes(content)) return std::nullopt;
  return HexField(content, 4, 2 * (*byteCount - 1));
}

// Address bytes of a data record type: S1 2, S2 3, S3 4; 0 for the others.
size_t AddressBytes(const Line& line) {
  if (line.Is('1')) return 2;
  if (line.Is('2')) return 3;
  if (line.Is('3')) return 4;
  return 0;
}

// Where a data record's bytes go in the scanner's memory.
struct DataSpan {
  size_t addressBytes = 0;
  uint32_t address = 0;
  uint64_t end = 0;  // one past its last data byte
};

enum class SpanFault { kNone, kAddress, kByteCount };

// The span of a data record line from its address and byte count.
SpanFault ReadDataSpan(const Line& line, DataSpan& span) {
  span.addressBytes = AddressBytes(line);
  const auto address = HexField(line.content, 4, 2 * span.addressBytes);
  if (!address) return SpanFault::kAddress;
  const auto byteCount = HexField(line.content, 2, 2);
  if (!byteCount) return SpanFault::kByteCount;
  span.address = *address;
  const size_t overhead = span.addressBytes + 1;  // address and checksum
  span.end = uint64_t{span.address} + (*byteCount > overhead ? *byteCount - overhead : 0);
  return SpanFault::kNone;
}

// The bytes the special block takes in the scanner's memory: [first, end).
struct BlockRange {
  uint64_t first = 0;
  uint64_t end = 0;
  // Whether a record has data bytes in the range.
  bool Holds(const DataSpan& span) const {
    return span.end > span.address && span.address < end && span.end > first;
  }
};

void AppendHexByte(std::string& out, uint8_t byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

// A record line of the given type: byte count, the field bytes, checksum,
// and the line end (CR LF unless told). The checksum is the ones' complement
// of the low byte of the sum of the byte count and the field bytes.
void AppendRecord(std::string& out, char type, const std::vector<uint8_t>& fields,
                  std::string_view lineEnd = "\r\n") {
  const uint8_t byteCount = static_cast<uint8_t>(fields.size() + 1);
  uint32_t sum = byteCount;
  out += 'S';
  out += type;
  AppendHexByte(out, byteCount);
  for (uint8_t byte : fields) {
    AppendHexByte(out, byte);
    sum += byte;
  }
  AppendHexByte(out, static_cast<uint8_t>(~sum & 0xFF));
  out += lineEnd;
}

void AppendBigEndian(std::vector<uint8_t>& fields, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) fields.push_back(static_cast<uint8_t>(value >> shift));
}

// The parts of a data record that lie outside the block's range, each as a
// record of the record's own type ending in lineEnd: the part below the range
// at the record's address into below, the part above it at the range's end
// into above. A record inside the range leaves nothing. records gets the
// number of parts written. False when the record cannot be cut: it is not
// sound, or its data runs past the addresses its type can hold.
bool CutAtBlockRange(const Line& line, const DataSpan& span, const BlockRange& range,
                     std::string_view lineEnd, std::string& below, std::string& above,
                     int& records) {
  records = 0;
  const auto bytes = SoundRecordBytes(line.content);
  if (!bytes || bytes->size() < span.addressBytes + 2) return false;
  const uint64_t top = (uint64_t{1} << (8 * span.addressBytes)) - 1;  // highest address of the type
  if (span.end - 1 > top) return false;
  const uint8_t* data = bytes->data() + 1 + span.addressBytes;
  auto part = [&](std::string& out, uint64_t from, uint64_t to) {
    if (from >= to) return;
    std::vector<uint8_t> fields;
    for (size_t i = span.addressBytes; i-- > 0;) fields.push_back(static_cast<uint8_t>(from >> (8 * i)));
    fields.insert(fields.end(), data + (from - span.address), data + (to - span.address));
    AppendRecord(out, line.content[1], fields, lineEnd);
    ++records;
  };
  part(below, span.address, std::min(span.end, range.first));
  part(above, std::max(uint64_t{span.address}, range.end), span.end);
  return true;
}

// The block as S3 records of up to 28 data bytes from base upwards.
std::string BlockRecords(uint32_t base, const uint8_t* block, size_t length, uint32_t& records) {
  std::string out;
  records = 0;
  for (size_t done = 0; done < length; done += kSpecialRecordBytes) {
    const size_t n = std::min(kSpecialRecordBytes, length - done);
    std::vector<uint8_t> fields;
    AppendBigEndian(fields, base + static_cast<uint32_t>(done));
    fields.insert(fields.end(), block + done, block + done + n);
    AppendRecord(out, '3', fields);
    ++records;
  }
  return out;
}

// The count record as this program writes it: "S505", the count as four
// bytes, checksum, CR LF (16 characters).
std::string CountRecord(uint32_t count) {
  std::string out;
  std::vector<uint8_t> fields;
  AppendBigEndian(fields, count);
  AppendRecord(out, '5', fields);
  return out;
}

}  // namespace

uint32_t SpecialBlockBase(int family) {
  return family == kFamilyMV2 ? kSpecialBlockBaseMV2 : kSpecialBlockBaseFirstGen;
}

unsigned FirstLineInSpecialBlock(const FileBuffer& image, int family, size_t blockLength) {
  const uint32_t base = SpecialBlockBase(family);
  const BlockRange range{base, uint64_t{base} + blockLength};
  const std::string_view text(image.data.get(), image.data ? image.size : 0);
  for (const Line& line : SplitLines(text)) {
    // The MV2 splice reads no further than the first line that is not a record.
    if (family == kFamilyMV2 && (line.content.empty() || line.content[0] != 'S')) break;
    if (AddressBytes(line) == 0) continue;
    DataSpan span;
    if (ReadDataSpan(line, span) != SpanFault::kNone || !range.Holds(span)) continue;
    const auto before = text.substr(0, line.begin);
    return static_cast<unsigned>(std::count(before.begin(), before.end(), '\n')) + 1;
  }
  return 0;
}

UpdateStatus InsertSpecialBlock(CCommDialog* panel, int family, FileBuffer& image,
                                const uint8_t* block, size_t blockLength) {
  const bool mv2 = family == kFamilyMV2;
  const uint32_t base = SpecialBlockBase(family);
  const BlockRange range{base, uint64_t{base} + blockLength};
  const std::string_view text(image.data.get(), image.data ? image.size : 0);

  try {
    std::vector<Line> lines = SplitLines(text);
    // The MV2 walk ends at the first line that is not a record; nothing after
    // it belongs to the image.
    if (mv2) {
      auto notRecord = std::find_if(lines.begin(), lines.end(),
                                    [](const Line& line) { return line.content.empty() || line.content[0] != 'S'; });
      lines.erase(notRecord, lines.end());
    }

    // Where every data record's bytes go. The image's own bytes in the
    // block's range would land on the flash the block is written to, over
    // the scanner's own data, so the range must be known for every record.
    std::vector<std::optional<DataSpan>> spans(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      if (AddressBytes(lines[i]) == 0) continue;
      DataSpan span;
      switch (ReadDataSpan(lines[i], span)) {
        case SpanFault::kAddress:
          ShowError(panel->m_szPortName, "Loader image: bad data record address");
          return UPD_BAD_IMAGE;
        case SpanFault::kByteCount:
          ShowError(panel->m_szPortName, kBadDataRecordText);
          return UPD_BAD_IMAGE;
        case SpanFault::kNone:
          spans[i] = span;
          break;
      }
    }

    // The block goes ahead of the count and termination records; on MV2 also
    // ahead of the first data that lies above the block's base, so the
    // records stay in address order.
    size_t insertAt = lines.size();
    bool dataBefore = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      const Line& line = lines[i];
      if (line.Is('5') || line.Is('7')) {
        insertAt = i;
        break;
      }
      if (mv2 && line.Is('3')) {
        if (spans[i]->address > base) {
          insertAt = i;
          break;
        }
        dataBefore = true;
      }
    }
    // An image without an end record has no place where the block is sure to
    // be taken before the loader stops reading. The MV2 image is refused
    // rather than given the block at its end.
    if (insertAt == lines.size()) {
      if (mv2) ShowError(panel->m_szPortName, "Loader image: no place for the special block");
      return UPD_NO_IMAGE_END;
    }
    if (mv2 && !dataBefore) return UPD_NO_IMAGE_DATA;

    // The image's own bytes in the block's range are left out: a record
    // inside it goes, a record that reaches into it keeps the parts outside.
    // The part above the range of a record ahead of the block follows the
    // block, so the records stay in address order. The count record then
    // counts the records that are really sent.
    std::vector<std::optional<std::string>> cut(lines.size());
    std::string followsBlock;
    int64_t recordsChanged = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (!spans[i] || !range.Holds(*spans[i])) continue;
      const Line& line = lines[i];
      std::string_view lineEnd = text.substr(line.begin + line.content.size(),
                                             line.next - line.begin - line.content.size());
      if (lineEnd.empty()) lineEnd = "\r\n";  // the last line: its parts still need their own lines
      std::string below, above;
      int records = 0;
      if (!CutAtBlockRange(line, *spans[i], range, lineEnd, below, above, records)) {
        ShowError(panel->m_szPortName, kBadDataRecordText);
        return UPD_BAD_IMAGE;
      }
      recordsChanged += records - 1;
      if (i < insertAt) {
        followsBlock += above;
        cut[i] = std::move(below);
      } else {
        cut[i] = below + above;
      }
    }

    std::optional<uint32_t> oldCount;
    for (size_t i = insertAt; i < lines.size() && !oldCount; ++i) {
      if (!lines[i].Is('5')) continue;
      oldCount = RecordCount(lines[i].content);
      if (!oldCount) {
        ShowError(panel->m_szPortName, "Loader image: bad count record");
        return UPD_BAD_IMAGE;
      }
    }

    uint32_t inserted = 0;
    const std::string records = BlockRecords(base, block, blockLength, inserted);
    std::string count;
    if (oldCount) {
      // The count field holds 32 bits: a count that leaves them would be
      // written wrapped and no longer match the records sent.
      const int64_t newCount = int64_t{*oldCount} + inserted + recordsChanged;
      if (newCount < 0 || newCount > int64_t{UINT32_MAX}) {
        ShowError(panel->m_szPortName, "Loader image: the record count does not fit the count record");
        return UPD_BAD_IMAGE;
      }
      count = CountRecord(static_cast<uint32_t>(newCount));
    }

    std::string out;
    out.reserve(text.size() + records.size() + followsBlock.size() + count.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      const Line& line = lines[i];
      if (i == insertAt) {
        out.append(records);
        out.append(followsBlock);
      }
      if (cut[i]) {
        out.append(*cut[i]);
      } else if (i >= insertAt && line.Is('5')) {
        // The count record is rewritten in place, its old line end included.
        out.append(count);
      } else {
        out.append(text.substr(line.begin, line.next - line.begin));
      }
    }

    std::unique_ptr<char[]> spliced(new (std::nothrow) char[out.size() + 1]);
    if (!spliced) return UPD_NO_MEMORY;
    std::copy(out.begin(), out.end(), spliced.get());
    spliced[out.size()] = 0;
    image.data = std::move(spliced);
    image.size = out.size();
    return UPD_OK;
  } catch (const std::bad_alloc&) {
    return UPD_NO_MEMORY;
  }
}

UpdateStatus SendLoaderImage(CCommDialog* panel, FileBuffer& image) {
  // The image is released however the sending ends.
  struct Releaser {
    FileBuffer& image;
    ~Releaser() { image.Release(); }
  } releaser{image};

  panel->m_progress.SetRange(0, 1000);
  panel->m_progress.SetPos(0);
  const uint64_t length = image.data ? image.size : 0;
  uint64_t sent = 0;
  BlockRate rate;
  while (sent < length) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kFileBlockBytes, length - sent));
    const uint32_t start = platform::GetTickCount();
    const UpdateStatus written = WriteTransferBlock(panel, image.data.get() + sent, n);
    if (written != UPD_OK) return written;
    const uint32_t elapsed = platform::GetTickCount() - start;
    sent += n;
    const uint32_t shown = rate.Add(n, elapsed);
    panel->ShowStatus(Format("%s %ld bytes %ld bytes/sec %ld%%", "LDR",
                             static_cast<long>(length), static_cast<long>(shown),
                             static_cast<long>(sent * 100 / length)));
    panel->m_progress.SetPos(static_cast<int>(sent * 1000 / length));
  }
  return UPD_OK;
}
