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
#include <string>

#include "link/port_session.h"
#include "link/run_reporter.h"
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

void ShowPhaseText(PortSession& session, RunReporter& reporter, ScannerFamily family) {
  switch (session.m_nReconnectPhase.load()) {
    case 0:
      reporter.ShowStatus("Turn scanner power on");
      break;
    case 1:
      reporter.ShowStatus(FamilyRow(family).restartText);
      break;
    case 3:
      reporter.ShowStatus("Please cycle scanner power to continue!");
      break;
    default:
      break;
  }
}

// True when the scanner holds DSR up.
bool ReadModemLines(PortSession& session) {
  platform::PortPtr port = session.m_hPort.Get();
  uint32_t status = 0;
  if (port && port->GetCommModemStatus(status)) {
    session.m_bCts.store(status & platform::MS_CTS_ON);
    session.m_bDsr.store(status & platform::MS_DSR_ON);
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

void CloseGate(PortSession& session) {
  if (session.m_hReceiveEvent) session.m_hReceiveEvent->Reset();
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

Identification IdentifyScanner(PortSession& session, RunReporter& reporter,
                               const ScannerIdentity& known) {
  Identification out{UPD_OK, known};
  ScannerIdentity& identity = out.identity;
  const auto finish = [&out](UpdateStatus result) {
    out.result = result;
    return out;
  };
  ShowPhaseText(session, reporter, identity.family);

  uint8_t banner[kBannerBytes] = {};
  uint8_t board[kBannerBytes] = {};
  // The ring is not emptied: bytes already in it take part in the first search.
  if (session.m_hDataEvent) session.m_hDataEvent->Reset();

  for (;;) {
    // Whether the scanner had DSR up at some moment of this attempt.
    bool dsrSeen = ReadModemLines(session);
    if (session.m_bAbort.load()) return finish(UPD_ABORTED);
    // A device that has gone cannot be woken: the attempts end here rather
    // than knocking at a dead handle for ever.
    if (CurrentLineFault(session) == kLineDeviceGone) return finish(UPD_LINK_DOWN);
    if (session.m_hReceiveEvent) session.m_hReceiveEvent->Set();

    const char wakeUp = '*';
    for (int i = 0; i < kWakeUpCharacters; ++i) {
      if (!WritePort(session.m_hPort, &wakeUp, 1) && NoteFailedWrite(session, reporter)) break;
      platform::Sleep(kWakeUpGapMs);
    }

    // Writes wait while CTS is low, so a scanner whose DSR is down once the
    // wake-ups have gone out lost its power after they left: the loader
    // that got them is gone (its logic device restarted it, or the operator
    // cycled its power as asked) and the fresh one needs wake-ups of its own.
    // The attempt ends there instead of waiting out its silence. Only a drop
    // counts: on a line that never shows DSR the silence is waited as ever.
    const auto lineDropped = [&session, &dsrSeen] {
      const bool dsrOn = ReadModemLines(session);
      dsrSeen = dsrSeen || dsrOn;
      return dsrSeen && !dsrOn && session.m_hPort.IsOpen();
    };
    size_t got = 0;
    UpdateStatus result = WaitBetweenWhileLinesHold(session, kBannerSilenceMs, banner, sizeof banner,
                                                    "QZ", "Build", &got, lineDropped);
    if (result == UPD_ABORTED || result == UPD_LINK_DOWN) return finish(result);
    if (result != UPD_OK) {
      // A silent attempt leaves the operator's instruction on show: the
      // scanner may be waiting for exactly what it asks (switching it on, a
      // power cycle), and a blank panel would say nothing at all.
      ShowPhaseText(session, reporter, identity.family);
      CloseGate(session);
      continue;
    }

    reporter.ShowStatus("No Error ...");
    const BannerFacts facts = ReadBanner(banner, got);
    // Each thing learnt is shown at once: the panel shows what the run goes
    // on with. A banner that names no family leaves the one known before.
    if (facts.family != ScannerFamily::kNone) {
      identity.family = facts.family;
      reporter.ShowIdentity(identity);
    }
    if (!facts.identified) {
      CloseGate(session);
      continue;
    }

    identity.identified = true;
    identity.loaderVersion = facts.loaderVersion;
    reporter.ShowIdentity(identity);
    reporter.ShowStatus("Connected");

    if (!FamilyRow(identity.family).secondGeneration) return finish(UPD_OK);

    std::memset(board, 0, sizeof board);
    got = 0;
    result = WaitBetween(session, kBannerSilenceMs, board, sizeof board, "Board", "Loader", &got);
    // A port told to stop is not a missing board text: the abort goes back
    // quietly like every other abort.
    if (result == UPD_ABORTED || result == UPD_LINK_DOWN) return finish(result);
    if (result != UPD_OK) {
      char text[64];
      std::snprintf(text, sizeof text, "Board ID not found - error: %d", static_cast<int>(result));
      reporter.ShowError(text);
      return finish(UPD_OK);
    }
    int boardVersion = 0;
    if (!ReadBoardVersion(board, got, &boardVersion)) {
      CloseGate(session);
      continue;
    }
    identity.boardVersion = boardVersion;
    reporter.ShowIdentity(identity);
    return finish(UPD_OK);
  }
}

namespace {

// The end steps of the connect thread; they run however the identification
// is left.
class ConnectEnd {
 public:
  ConnectEnd(PortSession& session, RunReporter& reporter)
      : session_(session), reporter_(reporter) {}
  ConnectEnd(const ConnectEnd&) = delete;
  ConnectEnd& operator=(const ConnectEnd&) = delete;
  ~ConnectEnd() {
    try {
      if (result_ == UPD_OK) {
        reporter_.ShowClosingStatus(
            {"Scanner connected successfully.", "Click USB COM button to start programming."});
      } else {
        reporter_.ShowClosingStatus({"Failed to connect scanner!"});
      }
    } catch (...) {
    }
    if (session_.m_hExitEvent) session_.m_hExitEvent->Set();
    if (session_.m_hReceiveEvent) session_.m_hReceiveEvent->Reset();
    try {
      reporter_.EnablePortButton(true);
      MessageBeep(0xFFFFFFFFu);
    } catch (...) {
    }
    session_.m_nReconnectPhase.store(0);
    session_.m_bRxActive.store(false);
    ReleaseGonePort(session_);
    session_.m_bAbort.store(true);
  }
  void SetResult(UpdateStatus result) { result_ = result; }

 private:
  PortSession& session_;
  RunReporter& reporter_;
  UpdateStatus result_ = UPD_ABORTED;
};

}  // namespace

int connectProc(PortSession& session, RunReporter& reporter, const ScannerIdentity& known) {
  ConnectEnd end(session, reporter);
  UpdateStatus result = UPD_ABORTED;
  try {
    result = IdentifyScanner(session, reporter, known).result;
  } catch (...) {
    result = UPD_ABORTED;
  }
  end.SetResult(result);
  return result;
}
