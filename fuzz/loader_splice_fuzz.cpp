// The splice of the scanner's special block into a loader image.
//
// Input: a byte for the family (MV2 or first generation), the block (up to
// 64 bytes, its length given by a byte), then the loader image text.
// Oracles: when the splice succeeds, the image up to the block's place is
// unchanged, then come S3 records that carry exactly the block's bytes from
// the family's base address upwards with sound byte counts and checksums,
// then the rest of the image unchanged but for its count record, which now
// counts the inserted records too (on MV2 the image ends at its first line
// that is not a record). The block goes ahead of the first count or
// termination record, and on MV2 ahead of the first data above its base and
// behind at least one data record. Where that place does not exist, the
// splice fails and leaves the image as it was.
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
  const UpdateStatus result = InsertSpecialBlock(&panel, family, image, block.data(), block.size());

  // Where the block belongs.
  const uint32_t base = SpecialBlockBase(family);
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
  const size_t prefix = static_cast<size_t>(lines[place].whole.data() - imageText.data());
  fuzz::Check(out.substr(0, prefix) == std::string_view(imageText).substr(0, prefix), "the image before the block stays");

  const std::vector<Line> outLines = Split(out.substr(prefix));
  const size_t records = (block.size() + kSpecialRecordBytes - 1) / kSpecialRecordBytes;
  fuzz::Check(outLines.size() >= records, "the block's records are there");
  std::vector<uint8_t> carried;
  for (size_t i = 0; i < records; ++i) {
    const auto bytes = fuzz::RecordBytes(outLines[i].content);
    fuzz::Check(bytes && bytes->size() >= 6 && outLines[i].Is('3') &&
                    outLines[i].whole.substr(outLines[i].content.size()) == "\r\n",
                "a block record is a sound S3 line");
    const uint32_t address = BigEndian32(*bytes, 1);
    fuzz::Check(address == base + carried.size(), "block records follow each other from the base");
    carried.insert(carried.end(), bytes->begin() + 5, bytes->end() - 1);
  }
  fuzz::Check(carried == block, "the block records carry the block");

  // The rest: the old lines from the place on, count records renewed.
  fuzz::Check(outLines.size() - records == lines.size() - place, "the lines behind the block stay");
  std::optional<uint64_t> newCount;
  for (size_t i = place; i < lines.size(); ++i) {
    const Line& now = outLines[records + i - place];
    if (!lines[i].Is('5')) {
      fuzz::Check(now.whole == lines[i].whole, "a line behind the block stays");
      continue;
    }
    const auto bytes = fuzz::RecordBytes(now.content);
    fuzz::Check(bytes && now.Is('5') && bytes->size() == 6, "the count record is S505 with a sound checksum");
    const uint64_t count = BigEndian32(*bytes, 1);
    if (!newCount) {
      // The first count record after the place: the old count plus the block's records.
      const auto oldBytes = Hex(lines[i].content, 2, 2);
      fuzz::Check(oldBytes && *oldBytes >= 2 && *oldBytes <= 5, "an old count record has a count of 1 to 4 bytes");
      const auto old = Hex(lines[i].content, 4, 2 * (*oldBytes - 1));
      fuzz::Check(old.has_value(), "an old count record is hex");
      fuzz::Check(count == ((*old + records) & 0xFFFFFFFFu), "the count grows by the block's records");
      newCount = count;
    }
    fuzz::Check(count == *newCount, "every count record says the same");
  }
  return 0;
}
