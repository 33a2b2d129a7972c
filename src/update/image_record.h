// The senders of RCP and VTC images: the records the image reader
// (ReadRCPFile, firmware/srecord_reader.h) kept are written to the scanner
// record by record, a data record that runs over a 64 KB boundary cut so a
// download can go in blocks, with the progress line and bar of the port.
// Used by the RCP and VTC engines (UpdateRCP, UpdateVTC) on a port's
// programming thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "firmware/srecord_reader.h"
#include "link/update_status.h"

class PortSession;
class RunReporter;

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
// The blocks SendImageBlock sends a data list in: CountImageBlocks
// (firmware/srecord_reader.h).

// Writes checksum and CR LF behind the data of a record whose byteCount is
// set, and sets its length to 2 * byteCount + 6. False (nothing written) when
// that does not fit the record text.
bool SetRecordChecksum(ImageRecord* record);
// Fills record with the count record "S505%08X" + checksum + CR LF (16 bytes).
void MakeCountRecord(ImageRecord* record, uint32_t count);

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
