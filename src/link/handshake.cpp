// The scanner handshake. Each attempt opens the receiver's gate, types the
// four wake-up characters and waits up to 500 ms of silence for the text
// between "QZ" and "Build" of the loader's banner; an MV2 loader then sends
// its board text between "Board" and "Loader".
//
// While the scanner is switched off it holds CTS low, and the first wake-up
// character is held back by flow control until the scanner comes up: the
// attempt simply waits there with the operator text on show. The receiver
// owns the port's line watching, so the handshake does not wait for the
// modem lines itself.
#include "link/handshake.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "link/comm_dialog.h"
#include "link/line_watch.h"
#include "link/response.h"
#include "link/scanner_family.h"
#include "platform/event.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"
#include "platform/time.h"

namespace {

constexpr size_t kBannerBytes = 1024;
constexpr uint32_t kBannerSilenceMs = 500;
constexpr uint32_t kWakeUpGapMs = 32;
constexpr int kWakeUpCharacters = 4;

void ShowPhaseText(CCommDialog* panel) {
  switch (panel->m_nReconnectPhase.load()) {
    case 0:
      panel->ShowStatus("Turn scanner power on");
      break;
    case 1:
      panel->ShowStatus(FamilyRow(panel->m_nFamily.load()).restartText);
      break;
    case 3:
      panel->ShowStatus("Please cycle scanner power to continue!");
      break;
    default:
      break;
  }
}

// True when the scanner holds DSR up.
bool ReadModemLines(CCommDialog* panel) {
  platform::PortPtr port = panel->m_hPort.Get();
  uint32_t status = 0;
  if (port && port->GetCommModemStatus(status)) {
    panel->m_bCts.store(status & platform::MS_CTS_ON);
    panel->m_bDsr.store(status & platform::MS_DSR_ON);
    return (status & platform::MS_DSR_ON) != 0;
  }
  return false;
}

// Reads "%i.%i..." (count numbers) after "version" and the spaces that
// follow it. Each number is read as a "%i" conversion reads it: decimal, a
// leading 0 selects octal, a leading 0x hexadecimal. Numbers the text does
// not supply are 0; numbers out of range are held at the limits of int.
void ReadVersion(const uint8_t* version, const uint8_t* end, int* numbers, int count) {
  const uint8_t* p = version + std::strlen("version");
  while (p < end && *p == ' ') ++p;
  const std::string text(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
  const char* s = text.c_str();
  for (int i = 0; i < count; ++i) numbers[i] = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if (*s != '.') return;
      ++s;
    }
    char* stop = nullptr;
    long value = std::strtol(s, &stop, 0);
    if (stop == s) return;
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    numbers[i] = static_cast<int>(value);
    s = stop;
  }
}

int ClampToInt(long long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void CloseGate(CCommDialog* panel) {
  if (panel->m_hReceiveEvent) panel->m_hReceiveEvent->Reset();
}

}  // namespace

BannerFacts ReadBanner(const uint8_t* banner, size_t length) {
  BannerFacts facts;
  if (length > 0) facts.family = FamilyOfBannerDigit(static_cast<char>(banner[0]));
  // Only this banner's bytes are searched, never what an earlier, longer
  // banner left in the buffer.
  const uint8_t* version = FindBytes(banner, length, "version");
  if (version == nullptr) return facts;
  facts.identified = true;
  int loader[3];
  ReadVersion(version, banner + length, loader, 3);
  // Loaders from 3.0.0 on run only on the MV2 platform, whatever digit
  // their banner carries.
  const ScannerFamily byLoader = FamilyOfLoaderMajor(loader[0]);
  if (byLoader != ScannerFamily::kNone) facts.family = byLoader;
  facts.loaderVersion = ClampToInt(static_cast<long long>(loader[0]) * 10000 +
                                   static_cast<long long>(loader[1]) * 100 + loader[2]);
  return facts;
}

bool ReadBoardVersion(const uint8_t* board, size_t length, int* boardVersion) {
  const uint8_t* version = FindBytes(board, length, "version");
  if (version == nullptr) return false;
  int numbers[2];
  ReadVersion(version, board + length, numbers, 2);
  *boardVersion =
      ClampToInt(static_cast<long long>(numbers[0]) * 10 + static_cast<long long>(numbers[1]));
  return true;
}

UpdateStatus IdentifyScanner(CCommDialog* panel) {
  ShowPhaseText(panel);

  uint8_t banner[kBannerBytes] = {};
  uint8_t board[kBannerBytes] = {};
  // The ring is not emptied: bytes already in it take part in the first search.
  if (panel->m_hDataEvent) panel->m_hDataEvent->Reset();

  for (;;) {
    // Whether the scanner had DSR up at some moment of this attempt.
    bool dsrSeen = ReadModemLines(panel);
    if (panel->m_bAbort.load()) return UPD_ABORTED;
    // A device that has gone cannot be woken: the attempts end here rather
    // than knocking at a dead handle for ever.
    if (CurrentLineFault(panel) == kLineDeviceGone) return UPD_LINK_DOWN;
    if (panel->m_hReceiveEvent) panel->m_hReceiveEvent->Set();

    const char wakeUp = '*';
    for (int i = 0; i < kWakeUpCharacters; ++i) {
      if (!WritePort(panel->m_hPort, &wakeUp, 1) && NoteFailedWrite(panel)) break;
      platform::Sleep(kWakeUpGapMs);
    }

    // Writes wait while CTS is low, so a scanner whose DSR is down once the
    // wake-ups have gone out lost its power after they left: the loader
    // that got them is gone (its logic device restarted it, or the operator
    // cycled its power as asked) and the fresh one needs wake-ups of its own.
    // The attempt ends there instead of waiting out its silence. Only a drop
    // counts: on a line that never shows DSR the silence is waited as ever.
    const auto lineDropped = [panel, &dsrSeen] {
      const bool dsrOn = ReadModemLines(panel);
      dsrSeen = dsrSeen || dsrOn;
      return dsrSeen && !dsrOn && panel->m_hPort.IsOpen();
    };
    size_t got = 0;
    UpdateStatus result = WaitBetweenWhileLinesHold(panel, kBannerSilenceMs, banner, sizeof banner,
                                                    "QZ", "Build", &got, lineDropped);
    if (result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;
    if (result != UPD_OK) {
      // A silent attempt leaves the operator's instruction on show: the
      // scanner may be waiting for exactly what it asks (switching it on, a
      // power cycle), and a blank panel would say nothing at all.
      ShowPhaseText(panel);
      CloseGate(panel);
      continue;
    }

    panel->ShowStatus("No Error ...");
    const BannerFacts facts = ReadBanner(banner, got);
    if (facts.family != ScannerFamily::kNone) panel->m_nFamily.store(facts.family);
    if (!facts.identified) {
      CloseGate(panel);
      continue;
    }

    panel->m_dwStatusFlags.fetch_or(kScannerIdentified);
    panel->m_nLoaderVersion.store(facts.loaderVersion);
    panel->ShowStatus("Connected");

    if (!FamilyRow(panel->m_nFamily.load()).secondGeneration) return UPD_OK;

    std::memset(board, 0, sizeof board);
    got = 0;
    result = WaitBetween(panel, kBannerSilenceMs, board, sizeof board, "Board", "Loader", &got);
    // A port told to stop is not a missing board text: the abort goes back
    // quietly like every other abort.
    if (result == UPD_ABORTED || result == UPD_LINK_DOWN) return result;
    if (result != UPD_OK) {
      char text[64];
      std::snprintf(text, sizeof text, "Board ID not found - error: %d", static_cast<int>(result));
      ShowError(panel->m_szPortName, text);
      return UPD_OK;
    }
    int boardVersion = 0;
    if (!ReadBoardVersion(board, got, &boardVersion)) {
      CloseGate(panel);
      continue;
    }
    panel->m_nBoardVersion.store(boardVersion);
    return UPD_OK;
  }
}

namespace {

// The end steps of the connect thread; they run however the identification
// is left.
class ConnectEnd {
 public:
  explicit ConnectEnd(CCommDialog* panel) : panel_(panel) {}
  ConnectEnd(const ConnectEnd&) = delete;
  ConnectEnd& operator=(const ConnectEnd&) = delete;
  ~ConnectEnd() {
    try {
      // Under Reset's lock: a Reset that ends this thread has shown "Reset"
      // by now, and this closing text comes after it.
      std::lock_guard<std::mutex> lock(panel_->m_resetMutex);
      if (result_ == UPD_OK) {
        panel_->m_strStatus.Set("Scanner connected successfully.");
        panel_->m_strStatus.Set("Click USB COM button to start programming.");
      } else {
        panel_->m_strStatus.Set("Failed to connect scanner!");
      }
    } catch (...) {
    }
    if (panel_->m_hExitEvent) panel_->m_hExitEvent->Set();
    if (panel_->m_hReceiveEvent) panel_->m_hReceiveEvent->Reset();
    try {
      panel_->EnablePortButton(true);
      MessageBeep(0xFFFFFFFFu);
    } catch (...) {
    }
    panel_->m_nReconnectPhase.store(0);
    panel_->m_bRxActive.store(false);
    ReleaseGonePort(panel_);
    panel_->m_bAbort.store(true);
    // The last act: after this the panel may be released.
    panel_->m_bSendDone.store(true);
  }
  void SetResult(UpdateStatus result) { result_ = result; }

 private:
  CCommDialog* panel_;
  UpdateStatus result_ = UPD_ABORTED;
};

}  // namespace

int connectProc(CCommDialog* panel) {
  ConnectEnd end(panel);
  UpdateStatus result = UPD_ABORTED;
  try {
    result = IdentifyScanner(panel);
  } catch (...) {
    result = UPD_ABORTED;
  }
  end.SetResult(result);
  return result;
}
