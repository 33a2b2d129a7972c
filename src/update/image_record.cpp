#include "update/image_record.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "firmware/hex_digit.h"
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/line_watch.h"
#include "platform/format.h"
#include "platform/message_box.h"
#include "platform/time.h"

namespace {

ThroughputFigures g_rcpFigures;
ThroughputFigures g_vtcFigures;

// The byte of the digit pair at text[at]; -1 when a digit is not hex.
int HexByte(const char* text, size_t at) {
  const int high = HexDigit(text[at]);
  const int low = HexDigit(text[at + 1]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

enum class Kind { kRCP, kVTC };

UpdateStatus SendRecord(PortSession& session, RunReporter& reporter, ImageRecord* record, uint32_t expectedTotal,
                        uint32_t* sent, Kind kind, bool splitApplies) {
  bool split = false;
  // Cut a data record whose data runs over a 64 KB boundary with at least one
  // byte beyond it: the loader writes one 64 KB block per flash write.
  if (splitApplies && RunsOver64K(*record)) {
    const uint32_t n = record->byteCount - 5;
    const uint32_t end = record->address + n;
    const uint32_t high = end >> 16;
    const uint32_t low = end & 0xFFFF;
    auto* second = new (std::nothrow) ImageRecord;
    if (!second) {
      reporter.ShowError("Memory allocation failed\n");
      return UPD_NO_MEMORY;
    }
    second->byteCount = low + 5;
    second->address = high << 16;
    char head[16];
    std::snprintf(head, sizeof head, "S3%02X%04X0000", second->byteCount, high);
    std::memcpy(second->text, head, 12);
    std::memcpy(second->text + 12, record->text + 12 + 2 * (n - low), 2 * low);
    SetRecordChecksum(second);

    record->byteCount = n - low + 5;
    std::snprintf(head, sizeof head, "%02X", record->byteCount);
    std::memcpy(record->text + 2, head, 2);
    SetRecordChecksum(record);

    second->next = record->next;
    record->next = second;
    split = true;
  }

  const uint32_t start = platform::GetTickCount();
  // A failed write means the port was closed (Reset, teardown) or has gone:
  // the loader did not get the record, so the download cannot go on.
  const UpdateStatus written =
      WriteTransferBlock(session, reporter, record->text, static_cast<uint32_t>(record->length));
  if (written != UPD_OK) return written;
  const uint32_t elapsed = platform::GetTickCount() - start;

  ThroughputFigures& figures = kind == Kind::kRCP ? g_rcpFigures : g_vtcFigures;
  figures.milliseconds.fetch_add(elapsed);
  figures.bytes.fetch_add(static_cast<uint32_t>(record->length));
  *sent += static_cast<uint32_t>(record->length);

  // The rate is measured over the writes since the last progress line, once
  // at least one tick has passed in them; until then the last rate is shown.
  uint32_t rate = figures.lastRate.load();
  const bool measured = figures.milliseconds.load() != 0;
  if (measured) {
    const uint32_t ms = figures.milliseconds.exchange(0);
    const uint32_t bytes = figures.bytes.exchange(0);
    if (ms != 0) {
      rate = static_cast<uint32_t>(uint64_t{bytes} * 1000 / ms);
      figures.lastRate.store(rate);
    }
  }
  const bool last = *sent == expectedTotal;
  // RCP records are small and many: its line is written only when a rate was
  // measured or the transfer is complete.
  if (kind == Kind::kVTC || measured || last) {
    if (kind == Kind::kRCP && !measured) {
      figures.milliseconds.store(0);
      figures.bytes.store(0);
    }
    const long percent = expectedTotal == 0 ? 100L : static_cast<long>(uint64_t{*sent} * 100 / expectedTotal);
    reporter.ShowStatus(Format("%s %dKB %ld bytes/sec %ld%%", kind == Kind::kRCP ? "RCP" : "VTC",
                             static_cast<int>(expectedTotal / 1024), static_cast<long>(rate),
                             percent));
  }
  reporter.SetProgressPos(expectedTotal == 0
                               ? 1000
                               : static_cast<int>(uint64_t{*sent} * 1000 / expectedTotal));
  return split ? UPD_SPLIT_AT_64K : UPD_OK;
}

}  // namespace

UpdateStatus SendRCPRecord(PortSession& session, RunReporter& reporter, ImageRecord* record, uint32_t expectedTotal,
                           uint32_t* sent, bool blockMode) {
  return SendRecord(session, reporter, record, expectedTotal, sent, Kind::kRCP, blockMode);
}

UpdateStatus SendVTCRecord(PortSession& session, RunReporter& reporter, ImageRecord* record, uint32_t expectedTotal,
                           uint32_t* sent) {
  return SendRecord(session, reporter, record, expectedTotal, sent, Kind::kVTC, true);
}

UpdateStatus SendImageBlock(PortSession& session, RunReporter& reporter, RecordSender send, ImageRecord** cursor,
                            uint32_t expectedTotal, uint32_t* sent, uint16_t* records) {
  if (*cursor == nullptr) return UPD_OK;
  const uint32_t page = (*cursor)->address >> 16;
  while (*cursor) {
    ImageRecord* record = *cursor;
    if (*records > 0 && (record->address >> 16) != page) return UPD_OK;
    const UpdateStatus result = send(session, reporter, record, expectedTotal, sent, true);
    if (result != UPD_OK && result != UPD_SPLIT_AT_64K) return result;
    // The loader counts records in 16 bits, so the count record wraps too.
    ++*records;
    *cursor = record->next;
    if (result == UPD_SPLIT_AT_64K) return UPD_OK;
  }
  return UPD_OK;
}

bool SetRecordChecksum(ImageRecord* record) {
  const size_t n = record->byteCount;
  if (2 * n + 6 > kRecordTextBytes) return false;
  uint32_t sum = 0;
  for (size_t i = 1; i <= n; ++i) {
    const int byte = HexByte(record->text, 2 * i);
    sum += byte < 0 ? 0u : static_cast<uint32_t>(byte);
  }
  char checksum[4];
  std::snprintf(checksum, sizeof checksum, "%02X", ~sum & 0xFFu);
  record->text[2 * n + 2] = checksum[0];
  record->text[2 * n + 3] = checksum[1];
  record->text[2 * n + 4] = '\r';
  record->text[2 * n + 5] = '\n';
  record->length = static_cast<int32_t>(2 * n + 6);
  return true;
}

void MakeCountRecord(ImageRecord* record, uint32_t count) {
  char head[16];
  std::snprintf(head, sizeof head, "S505%08X", count);
  std::memcpy(record->text, head, 12);
  record->byteCount = 5;
  record->address = 0;
  SetRecordChecksum(record);
}

ThroughputFigures& RcpThroughput() { return g_rcpFigures; }
ThroughputFigures& VtcThroughput() { return g_vtcFigures; }

void ResetThroughputFigures() {
  for (ThroughputFigures* figures : {&g_rcpFigures, &g_vtcFigures}) {
    figures->milliseconds.store(0);
    figures->bytes.store(0);
    figures->lastRate.store(0);
  }
}
