#include "firmware/loader_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/hex_digit.h"
#include "link/scanner_family.h"
#include "platform/format.h"

namespace {

constexpr const char* kBadDataRecordText = "Loader image: bad data record";

// One record line of the image: its text without the line end, where it
// begins, where the next line starts (after the run of CR and LF characters
// that ends it) and its number in the file (1 + the line feeds before it).
struct Line {
  std::string_view content;
  size_t begin = 0;
  size_t next = 0;
  unsigned number = 1;

  bool Is(char type) const {
    return content.size() >= 2 && content[0] == 'S' && content[1] == type;
  }
};

// The lines of a text one after the other, without keeping them: a loader
// image can hold a hundred thousand records, and the splice and the
// pre-flight check need only a few of them afterwards.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}

  bool Next(Line& line) {
    if (position_ >= text_.size()) return false;
    line.begin = position_;
    line.number = lineFeeds_ + 1;
    const char* data = text_.data();
    const size_t size = text_.size();
    // The content ends at the first CR or LF: the line feed found at once,
    // then a carriage return looked for before it.
    const char* start = data + position_;
    const auto* lineFeed = static_cast<const char*>(std::memchr(start, '\n', size - position_));
    const char* stop = lineFeed ? lineFeed : data + size;
    const auto* carriageReturn = static_cast<const char*>(std::memchr(start, '\r', static_cast<size_t>(stop - start)));
    if (carriageReturn) stop = carriageReturn;
    size_t end = static_cast<size_t>(stop - data);
    line.content = text_.substr(position_, end - position_);
    while (end < size && (data[end] == '\r' || data[end] == '\n')) {
      if (data[end] == '\n') ++lineFeeds_;
      ++end;
    }
    line.next = end;
    position_ = end;
    return true;
  }

 private:
  std::string_view text_;
  size_t position_ = 0;
  unsigned lineFeeds_ = 0;
};

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

// A data record that reaches into the block's range, and its parts outside
// the range as the splice writes them.
struct CutLine {
  Line line;
  DataSpan span;
  std::string below, above;
  int records = 0;
};

// What the splice does to an image, found in one walk over its lines before
// anything is written; fault says why it cannot be done.
struct SplicePlan {
  ReadFault fault;
  size_t end = 0;        // bytes of the text that belong to the image
  size_t insertAt = 0;   // where the block's records go in
  std::vector<CutLine> cuts;
  bool hasCount = false;  // the S5 records at or after insertAt are rewritten
  std::vector<Line> countLines;
  uint32_t newCount = 0;
};

SplicePlan PlanSplice(std::string_view text, ScannerFamily family, uint32_t base, size_t blockLength) {
  const bool mv2 = FamilyRow(family).secondGeneration;
  const BlockRange range{base, uint64_t{base} + blockLength};
  SplicePlan plan;
  plan.end = text.size();
  bool placed = false, dataBefore = false;
  Line count;
  LineCursor cursor(text);
  for (Line line; cursor.Next(line);) {
    // The MV2 walk ends at the first line that is not a record; nothing after
    // it belongs to the image.
    if (mv2 && (line.content.empty() || line.content[0] != 'S')) {
      plan.end = line.begin;
      break;
    }
    // Where every data record's bytes go. The image's own bytes in the
    // block's range would land on the flash the block is written to, over
    // the scanner's own data, so the range must be known for every record.
    DataSpan span;
    const bool data = AddressBytes(line) != 0;
    if (data) {
      switch (ReadDataSpan(line, span)) {
        case SpanFault::kAddress:
          plan.fault = {UPD_BAD_IMAGE, "Loader image: bad data record address"};
          return plan;
        case SpanFault::kByteCount:
          plan.fault = {UPD_BAD_IMAGE, kBadDataRecordText};
          return plan;
        case SpanFault::kNone:
          break;
      }
      if (range.Holds(span)) plan.cuts.push_back(CutLine{line, span, {}, {}, 0});
    }
    // The block goes ahead of the count and termination records; on MV2 also
    // ahead of the first data that lies above the block's base, so the
    // records stay in address order. The count record rewritten is the first
    // one from there on.
    if (!placed) {
      if (line.Is('5') || line.Is('7')) {
        placed = true;
        plan.insertAt = line.begin;
      } else if (mv2 && line.Is('3')) {
        if (span.address > base) {
          placed = true;
          plan.insertAt = line.begin;
        } else {
          dataBefore = true;
        }
      }
    }
    if (placed && line.Is('5')) {
      if (!plan.hasCount) count = line;
      plan.hasCount = true;
      plan.countLines.push_back(line);
    }
  }
  // An image without an end record has no place where the block is sure to
  // be taken before the loader stops reading. The MV2 image is refused
  // rather than given the block at its end.
  if (!placed) {
    plan.fault = mv2 ? ReadFault{UPD_NO_IMAGE_END, "Loader image: no place for the special block"}
                     : ReadFault{UPD_NO_IMAGE_END};
    return plan;
  }
  if (mv2 && !dataBefore) {
    plan.fault = UPD_NO_IMAGE_DATA;
    return plan;
  }

  // The image's own bytes in the block's range are left out: a record
  // inside it goes, a record that reaches into it keeps the parts outside.
  // The count record then counts the records that are really sent.
  int64_t recordsChanged = 0;
  for (CutLine& cut : plan.cuts) {
    const Line& line = cut.line;
    std::string_view lineEnd = text.substr(line.begin + line.content.size(),
                                           line.next - line.begin - line.content.size());
    if (lineEnd.empty()) lineEnd = "\r\n";  // the last line: its parts still need their own lines
    if (!CutAtBlockRange(line, cut.span, range, lineEnd, cut.below, cut.above, cut.records)) {
      plan.fault = {UPD_BAD_IMAGE, kBadDataRecordText};
      return plan;
    }
    recordsChanged += cut.records - 1;
  }

  if (plan.hasCount) {
    const std::optional<uint32_t> oldCount = RecordCount(count.content);
    if (!oldCount) {
      plan.fault = {UPD_BAD_IMAGE, "Loader image: bad count record"};
      return plan;
    }
    const int64_t inserted =
        static_cast<int64_t>((blockLength + kSpecialRecordBytes - 1) / kSpecialRecordBytes);
    // The count field holds 32 bits: a count that leaves them would be
    // written wrapped and no longer match the records sent.
    const int64_t newCount = int64_t{*oldCount} + inserted + recordsChanged;
    if (newCount < 0 || newCount > int64_t{UINT32_MAX}) {
      plan.fault = {UPD_BAD_IMAGE, "Loader image: the record count does not fit the count record"};
      return plan;
    }
    plan.newCount = static_cast<uint32_t>(newCount);
  }
  return plan;
}

}  // namespace

uint32_t SpecialBlockBase(ScannerFamily family) { return FamilyRow(family).specialBlockBase; }

unsigned FirstLineInSpecialBlock(const FileBuffer& image, ScannerFamily family,
                                 size_t blockLength) {
  const bool mv2 = FamilyRow(family).secondGeneration;
  const uint32_t base = SpecialBlockBase(family);
  const BlockRange range{base, uint64_t{base} + blockLength};
  const std::string_view text(image.data.get(), image.data ? image.size : 0);
  LineCursor cursor(text);
  for (Line line; cursor.Next(line);) {
    // The MV2 splice reads no further than the first line that is not a record.
    if (mv2 && (line.content.empty() || line.content[0] != 'S')) break;
    if (AddressBytes(line) == 0) continue;
    DataSpan span;
    if (ReadDataSpan(line, span) != SpanFault::kNone || !range.Holds(span)) continue;
    return line.number;
  }
  return 0;
}

ReadFault CheckSpecialBlockPlace(const FileBuffer& image, ScannerFamily family, size_t blockLength) {
  const std::string_view text(image.data.get(), image.data ? image.size : 0);
  try {
    return PlanSplice(text, family, SpecialBlockBase(family), blockLength).fault;
  } catch (const std::bad_alloc&) {
    return UPD_NO_MEMORY;
  }
}

ReadFault InsertSpecialBlock(ScannerFamily family, FileBuffer& image, const uint8_t* block,
                             size_t blockLength) {
  const uint32_t base = SpecialBlockBase(family);
  const std::string_view text(image.data.get(), image.data ? image.size : 0);

  try {
    const SplicePlan plan = PlanSplice(text, family, base, blockLength);
    if (!plan.fault.Ok()) return plan.fault;

    uint32_t inserted = 0;
    const std::string records = BlockRecords(base, block, blockLength, inserted);
    // The part above the range of a record ahead of the block follows the
    // block, so the records stay in address order.
    std::string followsBlock;
    for (const CutLine& cut : plan.cuts) {
      if (cut.line.begin < plan.insertAt) followsBlock += cut.above;
    }
    const std::string count = plan.hasCount ? CountRecord(plan.newCount) : std::string();

    std::string out;
    out.reserve(plan.end + records.size() + followsBlock.size() + count.size());
    size_t position = 0;
    auto copyUpTo = [&](size_t at) {
      out.append(text.substr(position, at - position));
      position = at;
    };
    // Every count record from the block's place on is rewritten in place,
    // its old line end included; the cut records give way to their parts.
    size_t nextCut = 0, nextCount = 0;
    auto replaceUpTo = [&](size_t limit) {
      for (;;) {
        const bool cutLeft = nextCut < plan.cuts.size() && plan.cuts[nextCut].line.begin < limit;
        const bool countLeft =
            nextCount < plan.countLines.size() && plan.countLines[nextCount].begin < limit;
        if (!cutLeft && !countLeft) return;
        if (cutLeft && (!countLeft || plan.cuts[nextCut].line.begin < plan.countLines[nextCount].begin)) {
          const CutLine& cut = plan.cuts[nextCut++];
          copyUpTo(cut.line.begin);
          out.append(cut.below);
          if (cut.line.begin >= plan.insertAt) out.append(cut.above);
          position = cut.line.next;
        } else {
          const Line& line = plan.countLines[nextCount++];
          copyUpTo(line.begin);
          out.append(count);
          position = line.next;
        }
      }
    };
    replaceUpTo(plan.insertAt);
    copyUpTo(plan.insertAt);
    out.append(records);
    out.append(followsBlock);
    replaceUpTo(plan.end);
    copyUpTo(plan.end);

    std::unique_ptr<char[]> spliced(new (std::nothrow) char[out.size() + 1]);
    if (!spliced) return UPD_NO_MEMORY;
    std::copy(out.begin(), out.end(), spliced.get());
    spliced[out.size()] = 0;
    image.data = std::move(spliced);
    image.size = out.size();
    return {};
  } catch (const std::bad_alloc&) {
    return UPD_NO_MEMORY;
  }
}
