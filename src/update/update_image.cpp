// UpdateRCP and UpdateVTC: download the scanner's two data images as
// S-records. A download goes in one pass (header, data, the file's count
// record, termination, one flash write) or, where the loader takes at most
// 64 KB per flash write, in blocks cut at 64 KB boundaries, each opened
// through the loader menu and framed with its own header, count and
// termination records.
#include <memory>
#include <string>

#include "firmware/hex_digit.h"
#include "firmware/sha256.h"
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/line_watch.h"
#include "link/response.h"
#include "link/scanner_family.h"
#include "platform/message_box.h"
#include "platform/time.h"
#include "update/engine_frame.h"
#include "update/engines.h"
#include "update/file_send.h"
#include "update/image_record.h"

namespace {

constexpr MenuPrompt kDownloadMenu{
    "1", 3000, Expect{.success = {"receive", "send"}, .failure = {"lost", "Proceed"}}};
constexpr uint32_t kAnswerMs = 3000;
constexpr uint32_t kFlashWriteMs = 60000;
constexpr uint32_t kCountRecordBytes = 16;

// What tells the twin engines apart.
struct ImageKind {
  const char* readingStatus;
  const char* readFailed;
  const char* readComplete;
  const char* incomplete;
  const char* storeWarning;
  const char* flashFailed;
  const char* doneStatus;
  RecordSender send;
};

const ImageKind kRcp{
    "Reading RCP file.",
    "RCP Update: Read file failed",
    "RCP file read complete.",
    kRcpIncompleteText,
    "Data has been detected in the Image Store Area.\r\nYou must delete the data before the rcp "
    "file can be downloaded.",
    "RCP update failed",
    "RCP Download Complete",
    SendRCPRecord,
};

const ImageKind kVtc{
    "Reading VTC file.",
    "VTC Update: Read file failed",
    "VTC file read complete.",
    kVtcIncompleteText,
    "Data has been detected in the Image Store Area.\r\nYou must delete the data before the vtc "
    "file can be downloaded.",
    "VTC update failed",
    "VTC Download Complete",
    // VTC always goes in blocks.
    [](PortSession& session, RunReporter& reporter, ImageRecord* record, uint32_t expectedTotal,
       uint32_t* sent, bool) {
      return SendVTCRecord(session, reporter, record, expectedTotal, sent);
    },
};

struct ListDeleter {
  void operator()(ImageRecord* first) const { FreeRecordList(first); }
};
using RecordList = std::unique_ptr<ImageRecord, ListDeleter>;

// The loader menu's download function, with its question when the Image Store
// Area already holds data.
UpdateStatus StartDownload(PortSession& session, RunReporter& reporter, bool firstBlock, bool leaveImages,
                           const char* storeWarning) {
  UpdateStatus result = EngineMenuStep(session, reporter, kDownloadMenu, false);
  bool declined = false;
  for (;;) {
    switch (result) {
      case UPD_OK:
        if (declined) return UPD_IMAGE_STORE_NOT_EMPTY;
        // From here to the end byte the loader's chatter is not collected,
        // and a banner until the completion text is a restart.
        session.m_bRxActive = false;
        WatchForBanner(session, true);
        return UPD_OK;
      case UPD_FAIL_MATCH: {
        // The store holds data: the operator chose to overwrite it, or this is
        // a later block of a download the loader has already accepted.
        const bool keepGoing = leaveImages || !firstBlock;
        if (!keepGoing) reporter.ShowWarning(storeWarning);
        result = EngineTypeKey(session, reporter, keepGoing ? 'y' : 'n');
        if (result != UPD_OK) return result;
        result = keepGoing
                     ? WaitForPair(session, kAnswerMs, Expect{.success = {"receive", "send"}})
                     : WaitForPair(session, kAnswerMs, Expect{.success = {"aborted", "Loader menu"}});
        if (result == UPD_TIMEOUT) reporter.ShowError("No response");
        if (!keepGoing) declined = true;
        break;
      }
      default:
        // "No response" has been shown for a time-out; an abort or a failed
        // wait goes back quietly.
        return result;
    }
  }
}

UpdateStatus FlashWrite(PortSession& session, RunReporter& reporter, const ImageKind& kind) {
  UpdateStatus result = EngineEndByte(session, reporter);
  if (result != UPD_OK) return result;
  result = EngineAwaitCompletion(session, kFlashWriteMs, "Write flash complete");
  // A line fault is reported by the programming sequence.
  if (result != UPD_OK && result != UPD_LINK_DOWN) reporter.ShowError(kind.flashFailed);
  return result;
}

void Complete(RunReporter& reporter, const ImageKind& kind) {
  reporter.SetProgressPos(0);
  reporter.ShowStatus(kind.doneStatus);
  reporter.EndFlashWrite();
}

struct Image {
  ImageRecord header;
  ImageRecord count;
  ImageRecord termination;
  RecordList data;
  uint32_t expected = 0;
};

using DownloadStarter = UpdateStatus (*)(PortSession&, RunReporter&, bool, bool);

// The digest of the data bytes of a sent image's data records, in list
// order: the order they were sent in. A record cut at a 64 KB boundary is two
// records by then, holding the same bytes in the same order, so the digest
// does not depend on the blocks the image went in.
std::string DataDigest(const ImageRecord* first) {
  Sha256 hash;
  for (const ImageRecord* record = first; record; record = record->next) {
    // S3, byte count, four address bytes; then the data up to the checksum.
    const uint32_t bytes = record->byteCount >= 5 ? record->byteCount - 5 : 0;
    uint8_t data[kRecordTextBytes / 2];
    uint32_t n = 0;
    for (uint32_t i = 0; i < bytes && 12 + 2 * i + 1 < kRecordTextBytes; ++i) {
      const int high = HexDigit(record->text[12 + 2 * i]);
      const int low = HexDigit(record->text[12 + 2 * i + 1]);
      data[n++] = static_cast<uint8_t>((high < 0 ? 0 : high) * 16 + (low < 0 ? 0 : low));
    }
    hash.Add(data, n);
  }
  return hash.Hex();
}

UpdateStatus SinglePass(PortSession& session, RunReporter& reporter, const ImageKind& kind, Image& image,
                        DownloadStarter start, bool leaveImages, StepReport& report) {
  UpdateStatus result = start(session, reporter, true, leaveImages);
  if (result == UPD_IMAGE_STORE_NOT_EMPTY) {
    report.declined = true;
    return UPD_RCP_STORE_NOT_EMPTY;
  }
  if (result != UPD_OK) return result;

  uint32_t sent = 0;
  // One pass sends the file's records as they stand: none is ever cut.
  const bool blockMode = false;
  result = kind.send(session, reporter, &image.header, image.expected, &sent, blockMode);
  for (ImageRecord* record = image.data.get(); result == UPD_OK && record; record = record->next)
    result = kind.send(session, reporter, record, image.expected, &sent, blockMode);
  if (result == UPD_OK) result = kind.send(session, reporter, &image.count, image.expected, &sent, blockMode);
  if (result == UPD_OK) {
    result = kind.send(session, reporter, &image.termination, image.expected, &sent, blockMode);
  }
  if (result != UPD_OK) return result;

  result = FlashWrite(session, reporter, kind);
  if (result != UPD_OK) return result;
  Complete(reporter, kind);
  return UPD_OK;
}

UpdateStatus BlockMode(PortSession& session, RunReporter& reporter, const ImageKind& kind, Image& image,
                       DownloadStarter start, bool leaveImages, StepReport& report) {
  const bool blockMode = true;
  ImageRecord* cursor = image.data.get();
  uint32_t sent = 0;
  bool firstBlock = true;
  for (;;) {
    UpdateStatus result = start(session, reporter, firstBlock, leaveImages);
    // Declined at the loader: the image stays out and the run goes on.
    if (result == UPD_IMAGE_STORE_NOT_EMPTY) {
      report.declined = true;
      return UPD_OK;
    }
    if (result != UPD_OK) return result;
    firstBlock = false;

    image.expected += static_cast<uint32_t>(image.header.length);
    result = kind.send(session, reporter, &image.header, image.expected, &sent, blockMode);
    if (result != UPD_OK) return result;

    uint16_t blockCount = 0;
    result = SendImageBlock(session, reporter, kind.send, &cursor, image.expected, &sent, &blockCount);
    if (result != UPD_OK) return result;

    MakeCountRecord(&image.count, blockCount);
    image.expected += kCountRecordBytes;
    result = kind.send(session, reporter, &image.count, image.expected, &sent, blockMode);
    if (result != UPD_OK) return result;

    image.expected += static_cast<uint32_t>(image.termination.length);
    result = kind.send(session, reporter, &image.termination, image.expected, &sent, blockMode);
    if (result != UPD_OK) return result;

    result = FlashWrite(session, reporter, kind);
    if (result != UPD_OK) return result;
    if (!cursor) {
      Complete(reporter, kind);
      return UPD_OK;
    }
  }
}

UpdateStatus UpdateImage(PortSession& session, RunReporter& reporter, const ImageKind& kind, const std::string& path,
                         bool blockMode, DownloadStarter start, bool leaveImages,
                         StepReport& report) {
  reporter.SetProgressRange(0, 1000);
  reporter.SetProgressPos(0);

  UpdateStatus result = EngineLinkCheck(session, reporter);
  if (result != UPD_OK) return result;

  reporter.ShowStatus(kind.readingStatus);
  Image image;
  ImageRecord* first = nullptr;
  result = ShowReadFault(reporter, ReadRCPFile(path, &image.header, &first, &image.count,
                                            &image.termination, &image.expected, &session.m_bAbort));
  image.data.reset(first);
  if (result == UPD_ABORTED) return result;
  if (result != UPD_OK) {
    reporter.ShowError(kind.readFailed);
    return result;
  }
  // The loader takes a download only framed by a header and a termination
  // record (and, in one pass, the file's count record); without them it would
  // wait for an end that never comes, so the file is refused before anything
  // is sent.
  if (image.header.length == 0 || image.termination.length == 0 ||
      (!blockMode && image.count.length == 0)) {
    reporter.ShowError(kind.incomplete);
    return UPD_BAD_IMAGE;
  }

  reporter.ShowStatus(kind.readComplete);
  platform::Sleep(0);
  result = blockMode ? BlockMode(session, reporter, kind, image, start, leaveImages, report)
                     : SinglePass(session, reporter, kind, image, start, leaveImages, report);
  if (result == UPD_OK && !report.declined) report.sha256 = DataDigest(image.data.get());
  return result;
}

}  // namespace

UpdateStatus StartRCPDownload(PortSession& session, RunReporter& reporter, bool firstBlock, bool leaveImages) {
  return StartDownload(session, reporter, firstBlock, leaveImages, kRcp.storeWarning);
}

UpdateStatus StartVTCDownload(PortSession& session, RunReporter& reporter, bool firstBlock, bool leaveImages) {
  return StartDownload(session, reporter, firstBlock, leaveImages, kVtc.storeWarning);
}

UpdateStatus UpdateRCP(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  // A QZ500 loader takes at most 64 KB per flash write; the others take the
  // image in one pass.
  const bool blockMode = FamilyRow(run.family).rcpInBlocks;
  return UpdateImage(session, reporter, kRcp, run.rcpFile, blockMode, StartRCPDownload, run.leaveImages,
                     report);
}

UpdateStatus UpdateRCP(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  StepReport report;
  return UpdateRCP(session, reporter, run, report);
}

UpdateStatus UpdateVTC(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report) {
  return UpdateImage(session, reporter, kVtc, run.vtcFile, true, StartVTCDownload, run.leaveImages, report);
}

UpdateStatus UpdateVTC(PortSession& session, RunReporter& reporter, const RunSettings& run) {
  StepReport report;
  return UpdateVTC(session, reporter, run, report);
}
