// The S-record image reader: the lines of an RCP or VTC image file checked
// record by record (syntax, byte count, checksum, address room, line length)
// and handed to a sink, read in large pieces without a copy per line. The
// download engines keep every record to send it (ReadRCPFile); the pre-flight
// check keeps only what it reports; both go through the same reading, so
// what is checked is what is sent.
//
// The reader shows nothing: it hands back a ReadFault with the text of the
// box a run shows. Called on a port's programming thread by the RCP and VTC
// engines, and by the pre-flight check, the fuzz targets and the benches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "firmware/read_fault.h"
#include "link/update_status.h"

// Bytes of record text: a line of up to 79 characters and its line feed.
constexpr size_t kRecordTextBytes = 80;

// Bytes read from an image file at once.
constexpr size_t kImageChunkBytes = 64 * 1024;

struct ImageRecord {
  char text[kRecordTextBytes] = {};  // the line as sent, with its line end; not zero-terminated
  int32_t length = 0;                // bytes of text that are sent
  uint32_t byteCount = 0;            // value of the byte-count field
  uint32_t address = 0;              // load address (data records)
  ImageRecord* next = nullptr;
};

// Releases every record of a list.
void FreeRecordList(ImageRecord* first);

// Whether a data record's data runs over a 64 KB boundary with at least one
// byte beyond it: where a block download (VTC, RCP on a QZ500 scanner) cuts
// the record and ends the block.
bool RunsOver64K(const ImageRecord& record);
// The same for a data record of this address and byte count.
bool DataRunsOver64K(uint32_t address, uint32_t byteCount);

// Counts the blocks a download cut at 64 KB sends, from the data records in
// the order they are sent: a block ends before a record in another 64 KB page
// and after a record cut at a 64 KB boundary, whose second part opens the
// next block.
class ImageBlockCounter {
 public:
  // cut: the record runs over a 64 KB boundary and is cut there (what
  // RunsOver64K says of it).
  void Add(uint32_t address, uint32_t byteCount, bool cut);
  // 1 for no records: a download in blocks always sends one.
  unsigned Blocks() const { return blocks_ == 0 ? 1 : blocks_; }

 private:
  unsigned blocks_ = 0;
  uint32_t page_ = 0;
};
// The blocks of a data list as read (records not cut yet).
unsigned CountImageBlocks(const ImageRecord* first);

// How ReadFileLine ended.
enum class LineEnd {
  kLineFeed,    // a line feed: stored at buffer[length], not counted
  kEndOfFile,   // the file ended after length bytes (0: no line left)
  kTooLong,     // no line feed within capacity bytes; the rest of the line,
                // its line feed included, has been skipped; length is the
                // whole line's
  kReadFailed,  // a read from the file failed
};

// Reads one line byte by byte into buffer (capacity bytes). length gets the
// bytes before the line feed, a carriage return before it included.
LineEnd ReadFileLine(std::FILE* file, char* buffer, size_t capacity, size_t& length);

// One record the reader keeps (header S0, data S3, count S5, termination S7),
// sound in every respect the reader checks.
struct SRecordLine {
  int type = 0;
  const char* text = nullptr;  // the record as sent: the record, a CR if its line had one, LF
  size_t length = 0;           // bytes of text, at most kRecordTextBytes
  uint32_t byteCount = 0;      // the byte-count field
  uint32_t address = 0;        // the load address of a data record, else 0
  unsigned line = 0;           // the line of the file
};

// Where the reader puts the records it keeps, in file order.
class SRecordSink {
 public:
  virtual ~SRecordSink() = default;
  // False when there is no room for the record (the reading ends with
  // UPD_NO_MEMORY).
  virtual bool Take(const SRecordLine& record) = 0;
};

// Reads the lines of an image and hands every kept record to sink. Blank
// lines (blanks, tabs, a CR, the Ctrl-Z end mark of DOS tools) are skipped;
// blanks and tabs after a record are dropped, as its carriage return is for
// the checks; the record keeps its line end (CR LF or LF), and a last line
// without a line feed gets one. Records of other types are skipped whatever
// their length. lines, when given, gets the number of the last line read: the
// faulty one on UPD_BAD_IMAGE, the file's last on UPD_OK.
//   UPD_ABORTED      the abort request, looked at before every line (silent)
//   UPD_READ_FAILED  "Cannot read from file\n"
//   UPD_NO_MEMORY    "Memory allocation failed\n" (the sink had no room)
//   UPD_BAD_IMAGE    a line that is not an S-record, or a kept record that
//                    is too long for its text, holds a non-hex digit,
//                    disagrees with its byte count or checksum, or (data)
//                    runs past address 0xFFFFFFFF ("Image file line <n>: <why>")
// From an open file, read in pieces of chunkBytes (a line may span pieces):
ReadFault ReadSRecords(std::FILE* file, SRecordSink& sink, AbortFlag abort = nullptr,
                       unsigned* lines = nullptr, size_t chunkBytes = kImageChunkBytes);
// From a text in memory (the file's bytes), with the same outcome:
ReadFault ReadSRecordText(std::string_view text, SRecordSink& sink, AbortFlag abort = nullptr,
                          unsigned* lines = nullptr);

// Reads an image file into the slots and the data list (which must be empty)
// and adds the bytes of every kept record to expectedTotal. Data records (S3)
// come out in ascending address order, equal addresses in file order; header
// (S0), count (S5) and termination (S7) records go to their slots, a later one
// replacing an earlier. On failure nothing is handed out (the data list stays
// empty). The faults of ReadSRecords, and those of opening the file:
//   UPD_FILE_OPEN_FAILED "ReadRCPFile : CreateFile", or the file is no
//                        regular file ("File <path> is a device, not a
//                        regular file", see OpenFirmwareFile)
//   UPD_FILE_SIZE_ERROR  the file is too large to be firmware
// A slot whose record the file lacks keeps length 0; the engine decides
// whether its mode needs it.
ReadFault ReadRCPFile(const std::string& path, ImageRecord* header, ImageRecord** dataList,
                      ImageRecord* count, ImageRecord* termination, uint32_t* expectedTotal,
                      AbortFlag abort = nullptr, unsigned* lines = nullptr);
// The fault text of an image file that does not open.
inline constexpr const char* kImageOpenText = "ReadRCPFile : CreateFile";
