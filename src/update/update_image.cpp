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
#include "link/comm_dialog.h"
#include "link/line_watch.h"
#include "link/response.h"
#include "link/scanner_family.h"
#include "platform/message_box.h"
#include "platform/time.h"
#include "update/engine_frame.h"
#include "update/engines.h"
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
    [](CCommDialog* panel, ImageRecord* record, uint32_t expectedTotal, uint32_t* sent, bool) {
      return SendVTCRecord(panel, record, expectedTotal, sent);
    },
};

struct ListDeleter {
  void operator()(ImageRecord* first) const { FreeRecordList(first); }
};
using RecordList = std::unique_ptr<ImageRecord, ListDeleter>;

// The loader menu's download function, with its question when the Image Store
// Area already holds data.
UpdateStatus StartDownload(CCommDialog* panel, bool firstBlock, bool leaveImages,
                           const char* storeWarning) {
  UpdateStatus result = EngineMenuStep(panel, kDownloadMenu, false);
  bool declined = false;
  for (;;) {
    switch (result) {
      case UPD_OK:
        if (declined) return UPD_IMAGE_STORE_NOT_EMPTY;
        // From here to the end byte the loader's chatter is not collected,
        // and a banner until the completion text is a restart.
        panel->m_bRxActive = false;
        WatchForBanner(panel, true);
        return UPD_OK;
      case UPD_FAIL_MATCH: {
        // The store holds data: the operator chose to overwrite it, or this is
        // a later block of a download the loader has already accepted.
        const bool keepGoing = leaveImages || !firstBlock;
        if (!keepGoing) ShowWarning(panel->m_szPortName, storeWarning);
        result = EngineTypeKey(panel, keepGoing ? 'y' : 'n');
        if (result != UPD_OK) return result;
        result = keepGoing
                     ? WaitForPair(panel, kAnswerMs, Expect{.success = {"receive", "send"}})
                     : WaitForPair(panel, kAnswerMs, Expect{.success = {"aborted", "Loader menu"}});
        if (result == UPD_TIMEOUT) ShowError(panel->m_szPortName, "No response");
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

UpdateStatus FlashWrite(CCommDialog* panel, const ImageKind& kind) {
  UpdateStatus result = EngineEndByte(panel);
  if (result != UPD_OK) return result;
  result = EngineAwaitCompletion(panel, kFlashWriteMs, "Write flash complete");
  // A line fault is reported by the programming sequence.
  if (result != UPD_OK && result != UPD_LINK_DOWN) ShowError(panel->m_szPortName, kind.flashFailed);
  return result;
}

void Complete(CCommDialog* panel, const ImageKind& kind) {
  panel->m_progress.SetPos(0);
  panel->ShowStatus(kind.doneStatus);
  panel->EndFlashWrite();
}

struct Image {
  ImageRecord header;
  ImageRecord count;
  ImageRecord termination;
  RecordList data;
  uint32_t expected = 0;
};

using DownloadStarter = UpdateStatus (*)(CCommDialog*, bool, bool);

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

UpdateStatus SinglePass(CCommDialog* panel, const ImageKind& kind, Image& image,
                        DownloadStarter start, bool leaveImages, StepReport& report) {
  UpdateStatus result = start(panel, true, leaveImages);
  if (result == UPD_IMAGE_STORE_NOT_EMPTY) {
    report.declined = true;
    return UPD_RCP_STORE_NOT_EMPTY;
  }
  if (result != UPD_OK) return result;

  uint32_t sent = 0;
  // One pass sends the file's records as they stand: none is ever cut.
  const bool blockMode = false;
  result = kind.send(panel, &image.header, image.expected, &sent, blockMode);
  for (ImageRecord* record = image.data.get(); result == UPD_OK && record; record = record->next)
    result = kind.send(panel, record, image.expected, &sent, blockMode);
  if (result == UPD_OK) result = kind.send(panel, &image.count, image.expected, &sent, blockMode);
  if (result == UPD_OK) {
    result = kind.send(panel, &image.termination, image.expected, &sent, blockMode);
  }
  if (result != UPD_OK) return result;

  result = FlashWrite(panel, kind);
  if (result != UPD_OK) return result;
  Complete(panel, kind);
  return UPD_OK;
}

UpdateStatus BlockMode(CCommDialog* panel, const ImageKind& kind, Image& image,
                       DownloadStarter start, bool leaveImages, StepReport& report) {
  const bool blockMode = true;
  ImageRecord* cursor = image.data.get();
  uint32_t sent = 0;
  bool firstBlock = true;
  for (;;) {
    UpdateStatus result = start(panel, firstBlock, leaveImages);
    // Declined at the loader: the image stays out and the run goes on.
    if (result == UPD_IMAGE_STORE_NOT_EMPTY) {
      report.declined = true;
      return UPD_OK;
    }
    if (result != UPD_OK) return result;
    firstBlock = false;

    image.expected += static_cast<uint32_t>(image.header.length);
    result = kind.send(panel, &image.header, image.expected, &sent, blockMode);
    if (result != UPD_OK) return result;

    uint16_t blockCount = 0;
    result = SendImageBlock(panel, kind.send, &cursor, image.expected, &sent, &blockCount);
    if (result != UPD_OK) return result;

    MakeCountRecord(&image.count, blockCount);
    image.expected += kCountRecordBytes;
    result = kind.send(panel, &image.count, image.expected, &sent, blockMode);
    if (result != UPD_OK) return result;

    image.expected += static_cast<uint32_t>(image.termination.length);
    result = kind.send(panel, &image.termination, image.expected, &sent, blockMode);
    if (result != UPD_OK) return result;

    result = FlashWrite(panel, kind);
    if (result != UPD_OK) return result;
    if (!cursor) {
      Complete(panel, kind);
      return UPD_OK;
    }
  }
}

UpdateStatus UpdateImage(CCommDialog* panel, const ImageKind& kind, const std::string& path,
                         bool blockMode, DownloadStarter start, bool leaveImages,
                         StepReport& report) {
  panel->m_progress.SetRange(0, 1000);
  panel->m_progress.SetPos(0);

  UpdateStatus result = EngineLinkCheck(panel);
  if (result != UPD_OK) return result;

  panel->ShowStatus(kind.readingStatus);
  Image image;
  ImageRecord* first = nullptr;
  result = ReadRCPFile(panel, path, &image.header, &first, &image.count, &image.termination,
                       &image.expected);
  image.data.reset(first);
  if (result == UPD_ABORTED) return result;
  if (result != UPD_OK) {
    ShowError(panel->m_szPortName, kind.readFailed);
    return result;
  }
  // The loader takes a download only framed by a header and a termination
  // record (and, in one pass, the file's count record); without them it would
  // wait for an end that never comes, so the file is refused before anything
  // is sent.
  if (image.header.length == 0 || image.termination.length == 0 ||
      (!blockMode && image.count.length == 0)) {
    ShowError(panel->m_szPortName, kind.incomplete);
    return UPD_BAD_IMAGE;
  }

  panel->ShowStatus(kind.readComplete);
  platform::Sleep(0);
  result = blockMode ? BlockMode(panel, kind, image, start, leaveImages, report)
                     : SinglePass(panel, kind, image, start, leaveImages, report);
  if (result == UPD_OK && !report.declined) report.sha256 = DataDigest(image.data.get());
  return result;
}

}  // namespace

UpdateStatus StartRCPDownload(CCommDialog* panel, bool firstBlock, bool leaveImages) {
  return StartDownload(panel, firstBlock, leaveImages, kRcp.storeWarning);
}

UpdateStatus StartVTCDownload(CCommDialog* panel, bool firstBlock, bool leaveImages) {
  return StartDownload(panel, firstBlock, leaveImages, kVtc.storeWarning);
}

UpdateStatus UpdateRCP(CCommDialog* panel, const RunSettings& run, StepReport& report) {
  // A QZ500 loader takes at most 64 KB per flash write; the others take the
  // image in one pass.
  const bool blockMode = run.family == kFamilyQZ500;
  return UpdateImage(panel, kRcp, run.rcpFile, blockMode, StartRCPDownload, run.leaveImages,
                     report);
}

UpdateStatus UpdateRCP(CCommDialog* panel, const RunSettings& run) {
  StepReport report;
  return UpdateRCP(panel, run, report);
}

UpdateStatus UpdateVTC(CCommDialog* panel, const RunSettings& run, StepReport& report) {
  return UpdateImage(panel, kVtc, run.vtcFile, true, StartVTCDownload, run.leaveImages, report);
}

UpdateStatus UpdateVTC(CCommDialog* panel, const RunSettings& run) {
  StepReport report;
  return UpdateVTC(panel, run, report);
}
