// The image reader together with the record senders: an RCP or VTC file of
// any bytes is read into records, and the records are sent as the image
// engine sends them: in blocks cut at 64 KB (VTC, and RCP for a QZ500), or
// in one pass.
//
// Input: a byte for the kind (RCP or VTC) and the family (QZ500 or not), then
// the file.
// Oracles: the reader accepts a file exactly when every S0, S3, S5 and S7 line
// in it is a sound record (an S3 record's data ending at 0xFFFFFFFF at the
// latest) that fits a record text with its line end (blanks
// after it aside) and every other line is blank or a record of another type
// (a line of more than 255 bytes only when it is a record of a type that is
// not sent); then every data record reaches the port, in address
// order, with its address and bytes (a split record as two records that carry
// the same bytes); every line sent is a sound record; where records are split
// (VTC, and RCP for a QZ500) no sent record and no block crosses a 64 KB
// boundary; the sent counter counts every byte written. The reader reads the
// same bytes alike from memory and from the file in pieces of any size, and
// every refusal has its text.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "link/scanner_family.h"
#include "update/image_record.h"

namespace {

struct Record {
  int type = -1;
  uint32_t address = 0;
  std::vector<uint8_t> data;  // S3: the data bytes
};

// A record line (without its line end) whose digits, byte count and checksum
// agree and whose data stays below 2^32; nothing otherwise.
std::optional<Record> Decode(std::string_view line) {
  if (line.size() < 2 || line[1] < '0' || line[1] > '9') return std::nullopt;
  const auto bytes = fuzz::RecordBytes(line);
  if (!bytes) return std::nullopt;
  Record r;
  r.type = line[1] - '0';
  // The byte count covers at least the address field and the checksum.
  if ((*bytes)[0] < (r.type == 3 || r.type == 7 ? 5 : 3)) return std::nullopt;
  if (r.type == 3) {
    r.address = fuzz::BigEndian32(*bytes, 1);
    r.data.assign(bytes->begin() + 5, bytes->end() - 1);
    // Data past the last address has nowhere to go.
    if (uint64_t{r.address} + r.data.size() > (uint64_t{1} << 32)) return std::nullopt;
  }
  return r;
}

// A line of the file: its text without its line end and the blanks, tabs
// and carriage returns before it, whether those held a carriage return, and
// the number of bytes before its line feed.
struct Line {
  std::string_view text;
  bool carriageReturn;
  size_t raw;
};

std::vector<Line> Lines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    const size_t raw = line.size();
    bool carriageReturn = false;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
      carriageReturn = carriageReturn || line.back() == '\r';
      line.remove_suffix(1);
    }
    lines.push_back({line, carriageReturn, raw});
    pos = end + 1;
  }
  return lines;
}

bool Blank(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\x1A'; });
}

// (address, byte) of every data byte, in the order the records come.
using Bytes = std::vector<std::pair<uint32_t, uint8_t>>;
void Append(Bytes& out, const Record& r) {
  for (size_t i = 0; i < r.data.size(); ++i) out.emplace_back(r.address + static_cast<uint32_t>(i), r.data[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("image.srec");
  fuzz::Input input(data, size);
  const uint8_t mode = input.Byte();
  const bool vtc = mode & 1;
  const bool qz500 = mode & 2;
  const std::string file = input.Rest();
  {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    fuzz::Check(out != nullptr, "scratch file");
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
  }

  // The reader alone: no port is needed to read an image.
  ImageRecord header, count, termination;
  ImageRecord* list = nullptr;
  uint32_t expected = 0;
  unsigned lines = 0;
  const ReadFault fault =
      ReadRCPFile(path, &header, &list, &count, &termination, &expected, nullptr, &lines);
  const UpdateStatus read = fault.status;
  fuzz::Check((read == UPD_OK) == fault.text.empty(), "every refusal says why");

  // The same text read whole and read in small pieces reads alike.
  {
    class Counter : public SRecordSink {
     public:
      bool Take(const SRecordLine&) override { return true; }
    } sink;
    unsigned wholeLines = 0, pieceLines = 0;
    const ReadFault whole = ReadSRecordText(file, sink, nullptr, &wholeLines);
    std::FILE* in = std::fopen(path.c_str(), "rb");
    fuzz::Check(in != nullptr, "scratch file opens");
    const ReadFault pieces = ReadSRecords(in, sink, nullptr, &pieceLines, 1 + (mode >> 2) % 64);
    std::fclose(in);
    fuzz::Check(whole.status == read && whole.text == fault.text && wholeLines == lines,
                "the text read whole reads as the file");
    fuzz::Check(pieces.status == read && pieces.text == fault.text && pieceLines == lines,
                "the file read in small pieces reads as in large ones");
  }

  // What the file holds, line by line.
  bool allSound = true;
  std::vector<Record> dataRecords;
  // A line is read into 255 bytes at most; of a longer one only the start
  // is looked at: unless it starts as a record of a type that is not sent,
  // it is refused.
  constexpr size_t kLongestLine = 255;
  for (const auto& [line, carriageReturn, raw] : Lines(file)) {
    const bool recordLine = line.size() >= 2 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9';
    const int type = recordLine ? line[1] - '0' : -1;
    const bool kept = type == 0 || type == 3 || type == 5 || type == 7;
    if (raw > kLongestLine) {
      if (!recordLine || kept) allSound = false;
      continue;
    }
    if (Blank(line)) continue;
    if (!recordLine) {
      allSound = false;
      continue;
    }
    if (!kept) continue;
    const auto record = Decode(line);
    // A kept record is sent as it stands with its line end: at most 80 bytes.
    if (!record || line.size() + (carriageReturn ? 2 : 1) > kRecordTextBytes) {
      allSound = false;
      continue;
    }
    if (type == 3) dataRecords.push_back(*record);
  }
  if (read != UPD_OK) {
    fuzz::Check(list == nullptr, "a refused file hands out no records");
    fuzz::Check(read == UPD_BAD_IMAGE, "a readable file is refused only as a bad image");
    fuzz::Check(!allSound, "a file of sound records is accepted");
    return 0;
  }
  fuzz::Check(allSound, "every kept line of an accepted file is a sound record");
  fuzz::Station& station = fuzz::Station::Instance().Fresh();
  PortSession& session = station.Session();
  RunReporter& reporter = station.Report();
  std::stable_sort(dataRecords.begin(), dataRecords.end(),
                   [](const Record& a, const Record& b) { return a.address < b.address; });
  Bytes expectedBytes;
  for (const Record& r : dataRecords) Append(expectedBytes, r);

  // Sent as the image engine sends them: in blocks where records are split
  // (VTC always, RCP for a QZ500), else in one pass.
  const bool blockMode = vtc || qz500;
  const RecordSender send = vtc ? +[](PortSession& s, RunReporter& rep, ImageRecord* r, uint32_t total, uint32_t* sent, bool) {
    return SendVTCRecord(s, rep, r, total, sent);
  } : &SendRCPRecord;
  uint32_t sent = 0;
  std::vector<size_t> blockEnds;
  size_t records = 0;
  if (blockMode) {
    for (ImageRecord* cursor = list; cursor;) {
      uint16_t count = 0;
      fuzz::Check(SendImageBlock(session, reporter, send, &cursor, expected, &sent, &count) == UPD_OK, "a block goes out");
      fuzz::Check(count > 0, "a block holds a record");
      blockEnds.push_back(fuzz::Station::Instance().Port().Written());
      records += count;
    }
  } else {
    for (ImageRecord* r = list; r; r = r->next, ++records) {
      fuzz::Check(send(session, reporter, r, expected, &sent, false) == UPD_OK, "a record goes out whole");
    }
  }
  const std::string wire = fuzz::Station::Instance().Port().Take();
  FreeRecordList(list);
  fuzz::Check(sent == wire.size(), "the sent counter counts what was written");
  fuzz::Check(Lines(wire).size() == records, "each record sent is one line");

  Bytes sentBytes;
  size_t at = 0;
  size_t block = 0;
  std::optional<uint32_t> blockPage;
  for (const auto& [line, carriageReturn, raw] : Lines(wire)) {
    const auto record = Decode(line);
    fuzz::Check(record && record->type == 3, "every line sent is a sound data record");
    Append(sentBytes, *record);
    at += raw + 1;
    if (blockMode && !record->data.empty()) {
      const uint32_t first = record->address >> 16;
      const uint32_t last = static_cast<uint32_t>((uint64_t{record->address} + record->data.size() - 1) >> 16);
      fuzz::Check(first == last, "no sent record crosses 64 KB");
      if (!blockPage) blockPage = first;
      fuzz::Check(*blockPage == first, "no block crosses 64 KB");
    }
    while (block < blockEnds.size() && at >= blockEnds[block]) {
      ++block;
      blockPage.reset();
    }
  }
  fuzz::Check(sentBytes == expectedBytes, "every data record reaches the port with its address and bytes");
  return 0;
}
