// The S-record reader reads an image file in pieces: a line that spans two
// pieces, a line too long that spans several, a last line without its line
// feed, must read exactly as the same text read whole. Every file of the
// table is read with pieces of many sizes and compared record by record,
// fault and line number included, with the reading of the text in memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "firmware/srecord_reader.h"

namespace {

// Everything the reader handed to its sink, and how it ended.
struct Reading {
  std::vector<std::string> records;  // "<line> <type> <byte count> <address> <text>"
  UpdateStatus status = UPD_OK;
  std::string text;
  unsigned lines = 0;

  bool operator==(const Reading&) const = default;
};

class RecordingSink : public SRecordSink {
 public:
  explicit RecordingSink(Reading& reading) : reading_(reading) {}
  bool Take(const SRecordLine& r) override {
    reading_.records.push_back(std::to_string(r.line) + " " + std::to_string(r.type) + " " +
                               std::to_string(r.byteCount) + " " + std::to_string(r.address) + " " +
                               std::string(r.text, r.length));
    return true;
  }

 private:
  Reading& reading_;
};

std::ostream& operator<<(std::ostream& out, const Reading& r) {
  out << "status " << r.status << " '" << r.text << "' lines " << r.lines << "\n";
  for (const std::string& record : r.records) out << "  " << record;
  return out;
}

Reading FromText(const std::string& text) {
  Reading reading;
  RecordingSink sink(reading);
  const ReadFault fault = ReadSRecordText(text, sink, nullptr, &reading.lines);
  reading.status = fault.status;
  reading.text = fault.text;
  return reading;
}

Reading FromFile(const std::string& text, size_t chunk) {
  Reading reading;
  std::FILE* file = std::tmpfile();
  if (file == nullptr) {
    ADD_FAILURE() << "no scratch file";
    return reading;
  }
  std::fwrite(text.data(), 1, text.size(), file);
  std::rewind(file);
  RecordingSink sink(reading);
  const ReadFault fault = ReadSRecords(file, sink, nullptr, &reading.lines, chunk);
  std::fclose(file);
  reading.status = fault.status;
  reading.text = fault.text;
  return reading;
}

const std::string H = "S00600004844521B\r\n";
const std::string D1 = "S307000001000101F5\r\n";
const std::string D2 = "S307000002000202F2\n";
const std::string C = "S50500000123D6\r\n";
const std::string T = "S70500000000FA\r\n";
// 78 characters: the longest record that fits its text with CR LF.
const std::string Longest =
    "S32500000400000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FE6";

TEST(SRecordReaderPieces, ReadsEveryFileAsTheSameTextReadWhole) {
  const std::vector<std::string> files = {
      "",
      H + D1 + D2 + C + T,
      H + D1 + C + "S70500000000FA",          // the last line without its line feed
      H + D1 + C + "S70500000000FA\r",        // ... ending in a carriage return
      H + Longest + "\r\n" + Longest + std::string(20, ' ') + "\r\n" + T,
      // Lines of skipped types and of any length, around the piece sizes.
      H + "S2" + std::string(253, 'F') + "\n" + D1 + T,
      H + "S2" + std::string(254, 'F') + "\n" + D1 + T,
      H + "S2" + std::string(255, 'F') + "\r\n" + D1 + T,
      H + "S9" + std::string(1000, 'F') + "\n" + D1 + T,
      H + D1 + "S9" + std::string(600, 'F'),  // too long up to the end of the file
      // Blank lines, blanks and tabs after records, the DOS end mark.
      H + "\n\r\n  \t\r\n" + D1 + "\t \r\n" + C + T + "\x1A",
      // Faults: each must be found at the same line whatever the pieces.
      H + D1 + "S307000003000303EE\r\n" + T,        // bad checksum
      H + D1 + "hello\r\n" + T,                      // not an S-record
      H + D1 + "S3" + std::string(300, '0') + "\n",  // a data line too long
      H + D1 + Longest + "00\r\n" + T,               // 80 characters
      H + D1 + " S307000003000303EF\r\n",            // leading blank
      H + "S3070000030003G3EF",                       // bad digit in the last line
      std::string("S0") + std::string(5000, '0'),
  };
  const size_t chunks[] = {1, 2, 3, 5, 7, 16, 79, 80, 81, 255, 256, 257, 1000, kImageChunkBytes};
  for (size_t f = 0; f < files.size(); ++f) {
    const Reading whole = FromText(files[f]);
    for (size_t chunk : chunks) {
      EXPECT_EQ(FromFile(files[f], chunk), whole) << "file " << f << " in pieces of " << chunk;
    }
  }
}

// The reading in pieces keeps its own checks: the table above is no
// comparison of two wrong readings.
TEST(SRecordReaderPieces, FindsTheFaultyLineAcrossPieces) {
  const std::string file = H + D1 + "S2" + std::string(400, 'F') + "\n" + D2 + "S307000003000303EE\r\n" + T;
  for (size_t chunk : {1u, 3u, 64u, 300u}) {
    const Reading reading = FromFile(file, chunk);
    EXPECT_EQ(reading.status, UPD_BAD_IMAGE) << chunk;
    EXPECT_EQ(reading.text, "Image file line 5: bad checksum") << chunk;
    EXPECT_EQ(reading.lines, 5u) << chunk;
    ASSERT_EQ(reading.records.size(), 3u) << chunk;
    EXPECT_EQ(reading.records[2], "4 3 7 512 " + D2) << chunk;
  }
}

}  // namespace
