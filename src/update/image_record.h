// RCP and VTC images in memory: the file's S-records read into a header, a
// count and a termination slot and an address-ordered list of data records,
// and the senders that write them to the scanner record by record, cutting a
// data record that runs over a 64 KB boundary so a download can go in blocks.
// Used by the RCP and VTC engines (UpdateRCP, UpdateVTC) on a port's
// programming thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/update_status.h"

class PortSession;
class RunReporter;

// Bytes of record text: a line of up to 79 characters and its line feed.
constexpr size_t kRecordTextBytes = 80;

struct ImageRecord {
  char text[kRecordTextBytes] = {};  // the line as sent, with its line end; not zero-terminated
  int32_t length = 0;                // bytes of text that are sent
  uint32_t byteCount = 0;            // value of the byte-count field
  uint32_t address = 0;              // load address (data records)
  ImageRecord* next = nullptr;
};

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

// Reads an image file into the slots and the data list (which must be empty)
// and adds the bytes of every kept line to expectedTotal. Data records (S3)
// come out in ascending address order, equal addresses in file order; header
// (S0), count (S5) and termination (S7) lines go to their slots, a later one
// replacing an earlier; other record types are skipped; blank lines are
// skipped. Blanks and tabs after a record are dropped, as its carriage return
// is for the checks; the record keeps its line end (CR LF or LF). A last line
// without a line feed gets one. On failure nothing is
// handed out (the data list stays empty).
//   UPD_FILE_OPEN_FAILED "ReadRCPFile : CreateFile", or the file is no
//                        regular file ("File <path> is a device, not a
//                        regular file", see OpenFirmwareFile)
//   UPD_FILE_SIZE_ERROR  the file is too large to be firmware
//   UPD_ABORTED          the abort request, looked at before every line (silent)
//   UPD_READ_FAILED      "Cannot read from file\n"
//   UPD_NO_MEMORY        "Memory allocation failed\n"
//   UPD_BAD_IMAGE        a line that is not an S-record, or a kept record
//                        that is too long for its text, holds a non-hex
//                        digit, disagrees with its byte count or checksum,
//                        or (data) runs past address 0xFFFFFFFF
//                        ("Image file line <n>: <why>")
// A slot whose record the file lacks keeps length 0; the engine decides
// whether its mode needs it. lines, when given, gets the number of the last
// line read: the faulty one on UPD_BAD_IMAGE, the file's last on UPD_OK.
UpdateStatus ReadRCPFile(PortSession& session, RunReporter& reporter, const std::string& path, ImageRecord* header,
                         ImageRecord** dataList, ImageRecord* count, ImageRecord* termination,
                         uint32_t* expectedTotal, unsigned* lines = nullptr);

// Whether a data record's data runs over a 64 KB boundary with at least one
// byte beyond it: where a block download (VTC, RCP on a QZ500 scanner) cuts
// the record and ends the block.
bool RunsOver64K(const ImageRecord& record);

// Write the record (splitting a data record at a 64 KB boundary where the
// download goes in blocks: VTC always, RCP when the engine sends it in blocks,
// as it does for a QZ500 scanner) and update the progress line and bar against
// expectedTotal; sent grows by the bytes written. The engine decides blockMode
// once for its whole download.
//   UPD_OK
//   UPD_SPLIT_AT_64K  the first part was sent; the second follows as next
//   UPD_NO_MEMORY     no room for the second part; nothing sent
//   UPD_ABORTED       the port write failed (the port was closed or has
//                     gone); the counters did not advance
UpdateStatus SendRCPRecord(PortSession& session, RunReporter& reporter, ImageRecord* record, uint32_t expectedTotal,
                           uint32_t* sent, bool blockMode);
UpdateStatus SendVTCRecord(PortSession& session, RunReporter& reporter, ImageRecord* record, uint32_t expectedTotal,
                           uint32_t* sent);

// Sends one block of a download cut at 64 KB: data records from *cursor on,
// each with send, up to the record that send split at a 64 KB boundary, or up
// to (not including) a record in another 64 KB page than the block's first, so
// that the data of one block never reaches into a second page even where no
// record runs over the boundary between them. *cursor moves past the records
// sent (null after the last), *records counts them. UPD_OK when the block is
// complete; any other result of send ends it at once.
// A record sender of the image engines; the last argument says whether the
// download goes in blocks, which the sender needs to know to cut records at
// 64 KB boundaries (SendImageBlock always says so).
using RecordSender = UpdateStatus (*)(PortSession&, RunReporter&, ImageRecord*, uint32_t, uint32_t*,
                                      bool);
UpdateStatus SendImageBlock(PortSession& session, RunReporter& reporter, RecordSender send, ImageRecord** cursor,
                            uint32_t expectedTotal, uint32_t* sent, uint16_t* records);
// The blocks SendImageBlock sends a data list in (the list as read, records
// not cut yet): a block ends before a record in another 64 KB page and after
// a record cut at a 64 KB boundary, whose second part opens the next block.
// 1 for an empty list: a download in blocks always sends one.
unsigned CountImageBlocks(const ImageRecord* first);

// Writes checksum and CR LF behind the data of a record whose byteCount is
// set, and sets its length to 2 * byteCount + 6. False (nothing written) when
// that does not fit the record text.
bool SetRecordChecksum(ImageRecord* record);
// Fills record with the count record "S505%08X" + checksum + CR LF (16 bytes).
void MakeCountRecord(ImageRecord* record, uint32_t count);
// Releases every record of a list.
void FreeRecordList(ImageRecord* first);

// Throughput figures of one image kind, shared by all ports (two ports
// sending the same kind mix their figures, which only affects the rate shown).
struct ThroughputFigures {
  std::atomic<uint32_t> milliseconds{0};  // spent in port writes since the last progress line
  std::atomic<uint32_t> bytes{0};         // written since the last progress line
  std::atomic<uint32_t> lastRate{0};      // bytes per second shown last
};
ThroughputFigures& RcpThroughput();
ThroughputFigures& VtcThroughput();
// Back to the state at start-up (all zero).
void ResetThroughputFigures();
