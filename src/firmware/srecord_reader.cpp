#include "firmware/srecord_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "firmware/file_access.h"
#include "firmware/hex_digit.h"
#include "platform/format.h"

namespace {

// Bytes of a line as read from the file: a record of 79 characters and the
// blanks or tabs that some editors and tools leave after it. A longer line is
// skipped to its line feed, or refused when it is a record that is sent.
constexpr size_t kFileLineBytes = 256;

constexpr const char* kNoMemoryText = "Memory allocation failed\n";

// Hex digit values by character, -1 for the others: a record has up to 76
// digits and an image a hundred thousand records.
constexpr std::array<int8_t, 256> kHexValue = [] {
  std::array<int8_t, 256> table{};
  for (int c = 0; c < 256; ++c) table[static_cast<size_t>(c)] = static_cast<int8_t>(HexDigit(static_cast<char>(c)));
  return table;
}();

// The byte of the digit pair at text[at]; -1 when a digit is not hex.
int HexByte(const char* text, size_t at) {
  const int high = kHexValue[static_cast<unsigned char>(text[at])];
  const int low = kHexValue[static_cast<unsigned char>(text[at + 1])];
  return (high | low) < 0 ? -1 : high * 16 + low;
}

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
  uint32_t sum = 0;
  for (size_t at = 2; at + 1 < content.size() && pairs < sizeof bytes; at += 2) {
    const int byte = HexByte(content.data(), at);
    if (byte < 0) return "bad hexadecimal digit";
    bytes[pairs++] = static_cast<uint8_t>(byte);
    sum += static_cast<uint32_t>(byte);
  }
  byteCount = bytes[0];
  if (byteCount + 1 != pairs) return "byte count does not match the line";
  if (byteCount < MinimumByteCount(type)) return "byte count too small for the record type";
  sum -= bytes[pairs - 1];
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

bool IsKeptType(int type) { return type == 0 || type == 3 || type == 5 || type == 7; }

// The lines of an image, from a text in memory or from a file read in pieces
// into one buffer; a line that spans two pieces is moved to the buffer's
// start before the next piece is read behind it. No line is copied
// otherwise.
class LineSource {
 public:
  // One line: the bytes before its line feed (at most kFileLineBytes - 1 of
  // them, or the line is too long and only its first two bytes are known).
  struct Line {
    const char* data = nullptr;
    size_t length = 0;
    bool lineFeed = false;  // false: the last line of the file
    bool tooLong = false;
    char first[2] = {};
  };
  enum class Got { kLine, kEnd, kFailed, kNoMemory };

  explicit LineSource(std::string_view text)
      : data_(text.data()), end_(text.size()), endOfFile_(true) {}

  LineSource(std::FILE* file, size_t chunkBytes)
      : file_(file),
        chunk_(std::max<size_t>(chunkBytes, 1)),
        storage_(new (std::nothrow) char[kFileLineBytes + chunk_]),
        data_(storage_.get()) {}

  Got Next(Line& line) {
    if (file_ && !storage_) return Got::kNoMemory;
    for (;;) {
      const char* start = data_ + begin_;
      const size_t available = end_ - begin_;
      const auto* lineFeed = static_cast<const char*>(std::memchr(start, '\n', available));
      if (skipping_) {
        // The rest of a line too long: up to its line feed or the file's end.
        if (lineFeed || endOfFile_) {
          begin_ = lineFeed ? static_cast<size_t>(lineFeed - data_) + 1 : end_;
          skipping_ = false;
          line = Line{};
          line.lineFeed = lineFeed != nullptr;
          line.tooLong = true;
          line.first[0] = first_[0];
          line.first[1] = first_[1];
          return Got::kLine;
        }
        begin_ = end_;
      } else if (lineFeed) {
        const size_t length = static_cast<size_t>(lineFeed - start);
        begin_ += length + 1;
        line = Line{start, length, true, length >= kFileLineBytes, {}};
        if (length >= 2) std::memcpy(line.first, start, 2);
        return Got::kLine;
      } else if (available >= kFileLineBytes) {
        first_[0] = start[0];
        first_[1] = start[1];
        skipping_ = true;
        begin_ = end_;
        continue;
      } else if (endOfFile_) {
        if (available == 0) return Got::kEnd;
        begin_ = end_;
        line = Line{start, available, false, false, {}};
        return Got::kLine;
      }
      if (!Fill()) return Got::kFailed;
    }
  }

 private:
  // Moves what is left of the buffer to its start and reads the next piece
  // behind it; false when the read fails.
  bool Fill() {
    char* buffer = storage_.get();
    const size_t left = end_ - begin_;
    if (left > 0 && begin_ > 0) std::memmove(buffer, buffer + begin_, left);
    begin_ = 0;
    end_ = left;
    const size_t got = std::fread(buffer + end_, 1, chunk_, file_);
    if (got == 0) {
      if (std::ferror(file_)) return false;
      endOfFile_ = true;
    }
    end_ += got;
    return true;
  }

  std::FILE* file_ = nullptr;
  size_t chunk_ = 0;
  std::unique_ptr<char[]> storage_;
  const char* data_ = nullptr;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool endOfFile_ = false;
  bool skipping_ = false;
  char first_[2] = {};
};

ReadFault ReadLines(LineSource& source, SRecordSink& sink, AbortFlag abort, unsigned* lines) {
  unsigned lineNumber = 0;
  struct LineReport {
    unsigned* out;
    const unsigned& number;
    ~LineReport() {
      if (out) *out = number;
    }
  } report{lines, lineNumber};
  auto badImage = [&lineNumber](const char* why) {
    return ReadFault{UPD_BAD_IMAGE, Format("Image file line %u: %s", lineNumber, why)};
  };
  char tooLong[64];
  std::snprintf(tooLong, sizeof tooLong, "longer than %u characters",
                static_cast<unsigned>(kRecordTextBytes - 1));

  char text[kRecordTextBytes];
  for (;;) {
    // A long image read ends at Reset like everything else of the run.
    if (AbortRequested(abort)) return UPD_ABORTED;
    ++lineNumber;
    LineSource::Line line;
    switch (source.Next(line)) {
      case LineSource::Got::kFailed:
        return {UPD_READ_FAILED, "Cannot read from file\n"};
      case LineSource::Got::kNoMemory:
        return {UPD_NO_MEMORY, kNoMemoryText};
      case LineSource::Got::kEnd:
        --lineNumber;  // no line was left
        return {};
      case LineSource::Got::kLine:
        break;
    }
    const bool last = !line.lineFeed;
    if (line.tooLong) {
      // Lines of record types that are not sent may be skipped whatever
      // their length; a kept record cannot be sent cut short.
      const bool record = line.first[0] == 'S' && line.first[1] >= '0' && line.first[1] <= '9';
      if (!record || IsKeptType(line.first[1] - '0')) return badImage(tooLong);
      continue;
    }
    // The record without its line end: the carriage return and any blanks or
    // tabs after the record are not part of it, so they are dropped before
    // the record is checked and are not sent. The record keeps the file's
    // line end (CR LF when the line had a carriage return).
    std::string_view content(line.data, line.length);
    bool carriageReturn = false;
    while (!content.empty() && IsLineSpace(content.back())) {
      carriageReturn = carriageReturn || content.back() == '\r';
      content.remove_suffix(1);
    }
    if (IsBlank(content)) {
      if (last) return {};
      continue;
    }
    if (content.size() < 2 || content[0] != 'S' || content[1] < '0' || content[1] > '9') {
      return badImage("not an S-record");
    }
    const int type = content[1] - '0';
    if (!IsKeptType(type)) {
      if (last) return {};
      continue;
    }
    // A kept record is sent whole in one record text, its line end included.
    const size_t lineEnd = carriageReturn ? 2 : 1;
    if (content.size() + lineEnd > kRecordTextBytes) return badImage(tooLong);
    SRecordLine record;
    if (const char* fault = RecordFault(content, type, record.byteCount, record.address)) {
      return badImage(fault);
    }
    // The record is sent as it was read, with its line end; a last line
    // without a line feed is completed so that the loader sees the record end.
    size_t kept = content.size();
    std::memcpy(text, content.data(), kept);
    if (carriageReturn) text[kept++] = '\r';
    text[kept++] = '\n';
    record.type = type;
    record.text = text;
    record.length = kept;
    record.line = lineNumber;
    if (!sink.Take(record)) return {UPD_NO_MEMORY, kNoMemoryText};
    if (last) return {};
  }
}

// The records of an image as the downloads send them: the frame records in
// their slots, the data records in a list (sorted by address at the end).
class RecordListSink : public SRecordSink {
 public:
  RecordListSink(ImageRecord* header, ImageRecord* count, ImageRecord* termination)
      : header_(header), count_(count), termination_(termination) {}
  ~RecordListSink() override { FreeRecordList(head_); }

  bool Take(const SRecordLine& record) override {
    ImageRecord* slot = nullptr;
    if (record.type == 3) {
      slot = new (std::nothrow) ImageRecord;
      if (!slot) return false;
      // Images are written in ascending order as a rule: append at the tail
      // and sort once at the end only if the file was out of order.
      if (tail_) {
        if (record.address < tail_->address) ordered_ = false;
        tail_->next = slot;
      } else {
        head_ = slot;
      }
      tail_ = slot;
    } else if (record.type == 0) {
      slot = header_;
    } else if (record.type == 5) {
      slot = count_;
    } else {
      slot = termination_;
    }
    std::memcpy(slot->text, record.text, record.length);
    slot->length = static_cast<int32_t>(record.length);
    slot->byteCount = record.byteCount;
    slot->address = record.address;
    total_ += static_cast<uint32_t>(record.length);
    return true;
  }

  // Hands out the data list in address order and adds the bytes kept.
  ReadFault Finish(ImageRecord** dataList, uint32_t* expectedTotal) {
    if (!ordered_) {
      try {
        std::vector<ImageRecord*> records;
        for (ImageRecord* r = head_; r; r = r->next) records.push_back(r);
        // Stable: records with equal addresses keep their file order.
        std::stable_sort(records.begin(), records.end(),
                         [](const ImageRecord* a, const ImageRecord* b) { return a->address < b->address; });
        for (size_t i = 0; i < records.size(); ++i) {
          records[i]->next = i + 1 < records.size() ? records[i + 1] : nullptr;
        }
        head_ = records.front();
      } catch (const std::bad_alloc&) {
        return {UPD_NO_MEMORY, kNoMemoryText};
      }
    }
    *dataList = std::exchange(head_, nullptr);
    *expectedTotal += total_;
    return {};
  }

 private:
  ImageRecord* header_;
  ImageRecord* count_;
  ImageRecord* termination_;
  ImageRecord* head_ = nullptr;
  ImageRecord* tail_ = nullptr;
  bool ordered_ = true;
  uint32_t total_ = 0;
};

}  // namespace

void FreeRecordList(ImageRecord* first) {
  while (first) {
    ImageRecord* next = first->next;
    delete first;
    first = next;
  }
}

bool DataRunsOver64K(uint32_t address, uint32_t byteCount) {
  if (byteCount < 5) return false;
  const uint32_t end = address + (byteCount - 5);
  const uint32_t low = end & 0xFFFF;
  return (address & 0xFFFF) > low && low != 0;
}

bool RunsOver64K(const ImageRecord& record) {
  if (record.text[1] != '3' || 2 * size_t{record.byteCount} + 6 > kRecordTextBytes) return false;
  return DataRunsOver64K(record.address, record.byteCount);
}

void ImageBlockCounter::Add(uint32_t address, uint32_t byteCount, bool cut) {
  if (blocks_ == 0 || address >> 16 != page_) {
    ++blocks_;
    page_ = address >> 16;
  }
  if (cut) {
    ++blocks_;
    page_ = (address + byteCount - 5) >> 16;
  }
}

unsigned CountImageBlocks(const ImageRecord* first) {
  ImageBlockCounter counter;
  for (const ImageRecord* r = first; r; r = r->next) {
    counter.Add(r->address, r->byteCount, RunsOver64K(*r));
  }
  return counter.Blocks();
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

ReadFault ReadSRecords(std::FILE* file, SRecordSink& sink, AbortFlag abort, unsigned* lines,
                       size_t chunkBytes) {
  LineSource source(file, chunkBytes);
  return ReadLines(source, sink, abort, lines);
}

ReadFault ReadSRecordText(std::string_view text, SRecordSink& sink, AbortFlag abort,
                          unsigned* lines) {
  LineSource source(text);
  return ReadLines(source, sink, abort, lines);
}

ReadFault ReadRCPFile(const std::string& path, ImageRecord* header, ImageRecord** dataList,
                      ImageRecord* count, ImageRecord* termination, uint32_t* expectedTotal,
                      AbortFlag abort, unsigned* lines) {
  uint32_t fileSize = 0;
  ReadFault fault;
  FilePtr file = OpenFirmwareFile(path, kImageOpenText, fileSize, fault);
  if (!file) return fault;
  RecordListSink sink(header, count, termination);
  fault = ReadSRecords(file.get(), sink, abort, lines);
  if (!fault.Ok()) return fault;
  return sink.Finish(dataList, expectedTotal);
}
