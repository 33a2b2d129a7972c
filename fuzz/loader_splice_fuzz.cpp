// The splice of the scanner's special block into a loader image.
//
// Input: a byte for the family (MV2 or first generation), the block (up to
// 64 bytes, its length given by a byte), then the loader image text.
// Oracles: when the splice succeeds, the image's lines come out in order
// (on MV2 up to its first line that is not a record), each unchanged but for
// three kinds: at the block's place come S3 records that carry exactly the
// block's bytes from the family's base address upwards with sound byte counts
// and checksums; a data record with bytes in the block's range (base to base
// + block length) is replaced by its parts outside the range, sound records
// of its own type and line end, the part above the range of a record ahead of
// the block following the block's records; a count record is rewritten to
// count the records sent: the old count plus the block's records, less the
// records left out, plus the second parts. The block goes ahead of the first
// count or termination record, and on MV2 ahead of the first S3 data above
// its base and behind at least one S3 record. Where that place does not
// exist, the splice fails and leaves the image as it was.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/loader_image.h"
#include "fuzz_support.h"
#include "link/scanner_family.h"

namespace {

using fuzz::BigEndian32;
using fuzz::Hex;

// One line: its text without the line end, and the line with its end (the
// run of CR and LF behind it).
struct Line {
  std::string_view content;
  std::string_view whole;
  bool Is(char type) const { return content.size() >= 2 && content[0] == 'S' && content[1] == type; }
};

std::vector<Line> Split(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    size_t next = end;
    while (next < text.size() && (text[next] == '\r' || text[next] == '\n')) ++next;
    lines.push_back({text.substr(pos, end - pos), text.substr(pos, next - pos)});
    pos = next;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const bool mv2 = input.Byte() & 1;
  const std::string blockText = input.Text(64);
  const std::string imageText = input.Rest();
  const std::vector<uint8_t> block(blockText.begin(), blockText.end());

  const int family = mv2 ? kFamilyMV2 : kFamilyQZ600;
  CCommDialog& panel = fuzz::Station::Instance().Fresh(family);
  FileBuffer image;
  image.data.reset(new char[imageText.size() + 1]);
  std::memcpy(image.data.get(), imageText.data(), imageText.size());
  image.data[imageText.size()] = 0;
  image.size = imageText.size();
  const UpdateStatus result = InsertSpecialBlock(panel, family, image, block.data(), block.size());

  // Where the block belongs.
  const uint32_t base = SpecialBlockBase(family);
  const uint64_t rangeEnd = uint64_t{base} + block.size();
  std::vector<Line> lines = Split(imageText);
  if (mv2) {
    size_t records = 0;
    while (records < lines.size() && !lines[records].content.empty() && lines[records].content[0] == 'S') ++records;
    lines.resize(records);
  }
  size_t place = lines.size();
  bool dataBefore = false;
  bool badAddress = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].Is('5') || lines[i].Is('7')) {
      place = i;
      break;
    }
    if (mv2 && lines[i].Is('3')) {
      const auto address = Hex(lines[i].content, 4, 8);
      if (!address) {
        badAddress = true;
        break;
      }
      if (*address > base) {
        place = i;
        break;
      }
      dataBefore = true;
    }
  }

  if (result != UPD_OK) {
    fuzz::Check(std::string_view(image.data.get(), image.size) == imageText, "a failed splice leaves the image");
    const bool noPlace = badAddress || place == lines.size() || (mv2 && !dataBefore);
    fuzz::Check(noPlace || result == UPD_BAD_IMAGE, "the splice fails only without a place or on a bad record");
    return 0;
  }
  fuzz::Check(!badAddress && place < lines.size() && (!mv2 || dataBefore), "the block has its place");

  const std::string_view out(image.data.get(), image.size);
  fuzz::Check(image.data[image.size] == 0, "the spliced image is zero-terminated");
  const std::vector<Line> outLines = Split(out);
  size_t next = 0;  // the output line to meet next
  auto take = [&]() -> const Line& {
    fuzz::Check(next < outLines.size(), "the spliced image has every line it must");
    return outLines[next++];
  };

  // A record's part [from, to) must come next: a sound record of the type
  // with the address and data of the part and the old line's end.
  auto expectPart = [&](const Line& old, const std::vector<uint8_t>& oldBytes, size_t addressBytes,
                        uint64_t address, uint64_t from, uint64_t to) {
    const Line& now = take();
    const auto bytes = fuzz::RecordBytes(now.content);
    fuzz::Check(bytes && now.content.substr(0, 2) == old.content.substr(0, 2) &&
                    bytes->size() == addressBytes + 2 + (to - from),
                "a cut record is a sound record of its own type");
    uint64_t at = 0;
    for (size_t k = 0; k < addressBytes; ++k) at = at * 256 + (*bytes)[1 + k];
    fuzz::Check(at == from, "a cut record starts where its part starts");
    const auto* data = oldBytes.data() + 1 + addressBytes + (from - address);
    fuzz::Check(std::equal(bytes->begin() + 1 + addressBytes, bytes->end() - 1, data),
                "a cut record carries its part's bytes");
    const std::string_view oldEnd = old.whole.substr(old.content.size());
    const std::string_view newEnd = now.whole.substr(now.content.size());
    fuzz::Check(newEnd == oldEnd || (oldEnd.empty() && newEnd == "\r\n"), "a cut record keeps its line end");
  };

  struct Cut {
    std::vector<uint8_t> bytes;
    size_t addressBytes;
    uint64_t address, end;
  };
  // The record's bytes when line is a data record that reaches into the range.
  auto inRange = [&](const Line& line) -> std::optional<Cut> {
    const size_t addressBytes = line.Is('1') ? 2 : line.Is('2') ? 3 : line.Is('3') ? 4 : 0;
    if (addressBytes == 0) return std::nullopt;
    const auto address = Hex(line.content, 4, 2 * addressBytes);
    const auto byteCount = Hex(line.content, 2, 2);
    fuzz::Check(address && byteCount, "a data record the splice took has a readable place");
    const uint64_t end = *address + (*byteCount > addressBytes + 1 ? *byteCount - addressBytes - 1 : 0);
    if (!(end > *address && *address < rangeEnd && end > base)) return std::nullopt;
    const auto bytes = fuzz::RecordBytes(line.content);
    fuzz::Check(bytes.has_value(), "a record in the block's range that is taken is sound");
    fuzz::Check(end - 1 < (uint64_t{1} << (8 * addressBytes)), "a record that is cut stays inside its type's addresses");
    return Cut{*bytes, addressBytes, *address, end};
  };

  int64_t partsLessRecords = 0;
  std::vector<std::pair<const Line*, Cut>> upperParts;  // of records ahead of the block
  for (size_t i = 0; i < place; ++i) {
    const auto cut = inRange(lines[i]);
    if (!cut) {
      fuzz::Check(take().whole == lines[i].whole, "a line ahead of the block stays");
      continue;
    }
    partsLessRecords -= 1;
    if (cut->address < base) {
      expectPart(lines[i], cut->bytes, cut->addressBytes, cut->address, cut->address, base);
      ++partsLessRecords;
    }
    if (cut->end > rangeEnd) {
      upperParts.push_back({&lines[i], *cut});
      ++partsLessRecords;
    }
  }

  const size_t records = (block.size() + kSpecialRecordBytes - 1) / kSpecialRecordBytes;
  std::vector<uint8_t> carried;
  for (size_t i = 0; i < records; ++i) {
    const Line& now = take();
    const auto bytes = fuzz::RecordBytes(now.content);
    fuzz::Check(bytes && bytes->size() >= 6 && now.Is('3') && now.whole.substr(now.content.size()) == "\r\n",
                "a block record is a sound S3 line");
    const uint32_t address = BigEndian32(*bytes, 1);
    fuzz::Check(address == base + carried.size(), "block records follow each other from the base");
    carried.insert(carried.end(), bytes->begin() + 5, bytes->end() - 1);
  }
  fuzz::Check(carried == block, "the block records carry the block");
  for (const auto& [line, cut] : upperParts) {
    expectPart(*line, cut.bytes, cut.addressBytes, cut.address, rangeEnd, cut.end);
  }

  // The rest: the old lines from the place on, count records renewed. The
  // count is checked once every cut is known.
  std::vector<uint32_t> counts;
  std::optional<uint64_t> oldCount;
  for (size_t i = place; i < lines.size(); ++i) {
    if (lines[i].Is('5')) {
      const Line& now = take();
      const auto bytes = fuzz::RecordBytes(now.content);
      fuzz::Check(bytes && now.Is('5') && bytes->size() == 6, "the count record is S505 with a sound checksum");
      counts.push_back(BigEndian32(*bytes, 1));
      if (!oldCount) {
        // The first count record after the place gives the old count.
        const auto oldBytes = Hex(lines[i].content, 2, 2);
        fuzz::Check(oldBytes && *oldBytes >= 2 && *oldBytes <= 5, "an old count record has a count of 1 to 4 bytes");
        fuzz::Check(fuzz::RecordBytes(lines[i].content).has_value(), "an old count record is sound");
        oldCount = Hex(lines[i].content, 4, 2 * (*oldBytes - 1));
      }
      continue;
    }
    const auto cut = inRange(lines[i]);
    if (!cut) {
      fuzz::Check(take().whole == lines[i].whole, "a line behind the block stays");
      continue;
    }
    partsLessRecords -= 1;
    if (cut->address < base) {
      expectPart(lines[i], cut->bytes, cut->addressBytes, cut->address, cut->address, base);
      ++partsLessRecords;
    }
    if (cut->end > rangeEnd) {
      expectPart(lines[i], cut->bytes, cut->addressBytes, cut->address, rangeEnd, cut->end);
      ++partsLessRecords;
    }
  }
  fuzz::Check(next == outLines.size(), "the spliced image has no other lines");
  if (oldCount) {
    const int64_t expected = static_cast<int64_t>(*oldCount) + static_cast<int64_t>(records) + partsLessRecords;
    fuzz::Check(expected >= 0 && expected <= int64_t{0xFFFFFFFF}, "a count that leaves 32 bits is refused");
    for (uint32_t count : counts) fuzz::Check(count == expected, "every count record counts the records sent");
  }
  return 0;
}
