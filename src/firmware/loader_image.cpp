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
#include "platform/message_box.h"
#include "platform/time.h"

namespace {

constexpr uint32_t kSpecialBlockBaseMV2 = 0x1FFC0;
constexpr uint32_t kSpecialBlockBaseFirstGen = 0xFFC0;

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

// The count field of an S5 record: the digits between the byte count and the
// checksum, whatever their number (the standard's two bytes, or the four this
// program writes).
std::optional<uint32_t> RecordCount(std::string_view content) {
  const auto byteCount = HexField(content, 2, 2);
  if (!byteCount || *byteCount < 2 || *byteCount > 5) return std::nullopt;
  if (content.size() != 4 + 2 * size_t{*byteCount}) return std::nullopt;
  if (!HexField(content, 4 + 2 * (*byteCount - 1), 2)) return std::nullopt;  // checksum digits
  return HexField(content, 4, 2 * (*byteCount - 1));
}

void AppendHexByte(std::string& out, uint8_t byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

// A record line of the given type: byte count, the field bytes, checksum,
// CR LF. The checksum is the ones' complement of the low byte of the sum of
// the byte count and the field bytes.
void AppendRecord(std::string& out, char type, const std::vector<uint8_t>& fields) {
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
  out += "\r\n";
}

void AppendBigEndian(std::vector<uint8_t>& fields, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) fields.push_back(static_cast<uint8_t>(value >> shift));
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

std::string Format(const char* format, auto... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace

uint32_t SpecialBlockBase(int family) {
  return family == kFamilyMV2 ? kSpecialBlockBaseMV2 : kSpecialBlockBaseFirstGen;
}

UpdateStatus InsertSpecialBlock(CCommDialog* panel, int family, FileBuffer& image,
                                const uint8_t* block, size_t blockLength) {
  const bool mv2 = family == kFamilyMV2;
  const uint32_t base = SpecialBlockBase(family);
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

    // The block goes ahead of the count and termination records; on MV2 also
    // ahead of the first data that lies above the block's base, so the
    // records stay in address order. On other families addresses are not
    // examined.
    size_t insertAt = lines.size();
    bool dataBefore = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      const Line& line = lines[i];
      if (line.Is('5') || line.Is('7')) {
        insertAt = i;
        break;
      }
      if (mv2 && line.Is('3')) {
        const auto address = HexField(line.content, 4, 8);
        if (!address) {
          ShowError(panel->m_szPortName, "Loader image: bad data record address");
          return UPD_BAD_IMAGE;
        }
        if (*address > base) {
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
    const std::string count = oldCount ? CountRecord(*oldCount + inserted) : std::string();

    std::string out;
    out.reserve(text.size() + records.size() + count.size());
    out.append(text.substr(0, lines[insertAt].begin));
    out.append(records);
    for (size_t i = insertAt; i < lines.size(); ++i) {
      const Line& line = lines[i];
      // The count record is rewritten in place, its old line end included.
      if (line.Is('5')) {
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
