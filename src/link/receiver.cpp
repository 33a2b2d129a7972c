// rcvProc: the receiver thread of a port.
//
// The receiver issues reads only while the receive gate (m_hReceiveEvent) is
// open. Each read waits a short slice for the first byte and completes once
// the line has been quiet for the port's 1 ms read interval or 16 bytes have
// come, so a prompt reaches the waiting step while the loader still talks. A
// read that fails at once (the port refuses it) ends the reading for good;
// one that fails when its outcome is collected is reported and the receiver
// reads on. A slice that passes without data
// polls the modem lines and clears line errors, and lets the receiver look at
// the gate and the exit event again. A block read just before the gate closed
// is held and delivered when the gate opens again, so nothing the scanner
// said is lost and nothing is stored while the gate is closed (Start empties
// the ring only then).
#include "link/receiver.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/line_watch.h"
#include "link/traffic_log.h"
#include "platform/event.h"
#include "platform/message_box.h"
#include "platform/time.h"
#include "platform/serial_port.h"

namespace {

// The most one read asks for, and the size of a block handed to the ring. A
// read completes only once the line has been quiet for the read interval,
// and the loader goes on talking after a prompt
// (the rest of its menu, a dump), so a read of the whole buffer would hold a
// prompt back until the loader falls silent: 20 ms and more at the line rate
// for every step. A read of 16 bytes (a UART's FIFO, under 3 ms at 57600
// bit/s) hands each piece on while the loader still talks; the loader says
// little, so the extra reads cost next to nothing.
constexpr size_t kBlockBytes = 16;
// The largest read the receiver can be set to make.
constexpr size_t kLargestBlockBytes = 4096;
std::atomic<size_t> g_blockBytes{kBlockBytes};
// How long one read waits for a first byte before the receiver looks at its
// gate and the exit event again (real milliseconds).
constexpr uint32_t kReadSliceMs = 100;
// Pause between two offers of a block to a full ring.
constexpr uint32_t kRingRetryMs = 10;

class Receiver {
 public:
  Receiver(PortSession& session, RunReporter& reporter)
      : session_(session), reporter_(reporter), blockBytes_(g_blockBytes.load()) {}

  void Run() {
    // Read the line once so that a line error left from before is cleared.
    if (platform::PortPtr port = session_.m_hPort.Get()) {
      uint32_t status = 0;
      port->GetCommModemStatus(status);
      port->ClearCommError();
    }
    while (!done_) {
      const int gate = platform::WaitForAny(
          {session_.m_hReceiveEvent.get(), session_.m_hExitEvent.get()}, platform::kInfinite);
      // With the gate open the wait reports the gate, so the exit event is
      // looked at on its own as well: it ends the receiver either way.
      if (gate == 1 || Exiting()) {
        done_ = true;
        continue;
      }
      if (gate != 0) {
        ReportError("WaitForSingleObjects(rcvProc)", 0);
        // Without working events the gate cannot park the receiver; pace the
        // loop instead of spinning.
        if (Exiting()) {
          done_ = true;
          continue;
        }
        platform::Sleep(500);
      }
      if (heldBytes_ > 0) {
        Deliver(held_, heldBytes_);
        if (heldPort_) heldPort_->NoteInputHandled(heldBytes_);
        heldPort_.reset();
        heldBytes_ = 0;
        continue;
      }
      if (readFailed_) {
        // The port failed: no further read is issued; the receiver only waits
        // for its end.
        if (WaitExit(500)) done_ = true;
        continue;
      }
      ReadOnce();
    }
  }

 private:
  bool Exiting() const { return session_.m_hExitEvent && session_.m_hExitEvent->IsSet(); }

  bool WaitExit(uint32_t ms) const {
    if (!session_.m_hExitEvent) {
      platform::Sleep(ms);
      return false;
    }
    return platform::WaitForAny({session_.m_hExitEvent.get()}, ms) == 0;
  }

  bool GateOpen() const { return session_.m_hReceiveEvent && session_.m_hReceiveEvent->IsSet(); }

  // Failures are not reported while the application closes, nor when the
  // failure is the port being closed or the port being told to stop: those
  // are how the receiver is ended, not faults. (A vanished device is no failure
  // either: the line watch takes it, and after the run's outcome it is the
  // operator's switch-off, which shows no box.)
  bool Quiet(int error) const {
    return g_bClosing.load() || Exiting() || error == platform::kErrorOperationAborted;
  }

  // A read the port refuses: shown with the system's description of why.
  void ReportReadRefused(int error) {
    if (!Quiet(error)) reporter_.ShowApiError("ReadFile in rcvProc", error);
  }

  // Every other failure of the receiver: the error box with the name of the
  // call that failed.
  void ReportError(const char* text, int error) {
    if (!Quiet(error)) reporter_.ShowError(text);
  }

  // The common start of a failed read: true when the failure ends the
  // receiver (the port is being stopped) or its reading (the device has
  // vanished). A vanished device is no failure of the receiver: the run ends
  // on it at once and says so (or, after its outcome, it is the expected
  // power-off).
  bool ReadEndedBy(int error) {
    if (Exiting()) {
      done_ = true;
      return true;
    }
    if (!IsDeviceGoneError(error)) return false;
    NoteLineFault(session_, reporter_, kLineDeviceGone);
    readFailed_ = true;
    return true;
  }

  void ReadOnce() {
    platform::PortPtr port = session_.m_hPort.Get();
    if (!port) {
      if (Exiting()) {
        done_ = true;
        return;
      }
      ReportReadRefused(platform::kErrorInvalidHandle);
      readFailed_ = true;
      return;
    }
    size_t got = 0;
    const platform::ReadStatus status = port->Read(buffer_, blockBytes_, got, kReadSliceMs);
    if (status == platform::ReadStatus::kFailed) {
      const int error = port->LastError();
      if (ReadEndedBy(error)) return;
      ReportReadRefused(error);
      readFailed_ = true;
      return;
    }
    if (status == platform::ReadStatus::kCollectFailed) {
      const int error = port->LastError();
      if (ReadEndedBy(error)) return;
      // The device is still there: report the failure once, not for every
      // read that fails the same way, and read on after a pause rather than
      // spinning on a port that keeps failing.
      if (!collectReported_) ReportError("GetOverlappedResult (rcvProc)", error);
      collectReported_ = true;
      if (WaitExit(kReadSliceMs)) done_ = true;
      return;
    }
    collectReported_ = false;
    if (status == platform::ReadStatus::kTimeout || got == 0) {
      PollLine(*port);
      return;
    }
    // The watch sees every byte, forwarded or dropped, and notes the restart
    // before the block reaches the ring, so a wait that finds a completion
    // text in it also finds the restart.
    if (banner_.Scan(buffer_, got) && session_.m_bBannerWatch.load()) {
      NoteLineFault(session_, reporter_, kLineRestarted);
    }
    if (GateOpen()) {
      Deliver(buffer_, got);
      // Stored or dropped: a step that lets the line settle before its key
      // counts these bytes as come.
      port->NoteInputHandled(got);
    } else {
      // The gate closed while the read was under way: keep the block for
      // when it opens again.
      std::memcpy(held_, buffer_, got);
      heldBytes_ = got;
      heldPort_ = port;
    }
  }

  // A quiet slice: look at the modem lines and clear line errors, as a
  // receiver does on every pause of the line. A port that keeps failing is
  // reported once, not every slice.
  void PollLine(platform::SerialPort& port) {
    uint32_t status = 0;
    if (!port.GetCommModemStatus(status)) {
      const int error = port.LastError();
      if (IsDeviceGoneError(error)) {
        NoteLineFault(session_, reporter_, kLineDeviceGone);
      } else if (!modemReported_) {
        ReportError("GetCommModemStatus", error);
      }
      modemReported_ = true;
    } else if ((status & platform::MS_DSR_ON) == 0 && session_.m_bStepWatch.load()) {
      // The scanner lost its power in the middle of a step.
      NoteLineFault(session_, reporter_, kLineRestarted);
    }
    if (!port.ClearCommError()) {
      const int error = port.LastError();
      if (IsDeviceGoneError(error)) {
        NoteLineFault(session_, reporter_, kLineDeviceGone);
      } else if (!clearReported_) {
        ReportError("ClearCommError", error);
      }
      clearReported_ = true;
    }
  }

  // Bytes received while receive forwarding is off are dropped: neither
  // stored nor logged.
  void Deliver(const uint8_t* data, size_t n) {
    if (!session_.m_bRxActive.load()) return;
    // Nothing is dropped for lack of room: wait until the consumer made room,
    // or until the port is told to stop.
    while (!session_.m_rxBuffer.Write(data, static_cast<unsigned>(n))) {
      if (WaitExit(kRingRetryMs) || Exiting()) {
        done_ = true;
        return;
      }
    }
    if (session_.m_hDataEvent) session_.m_hDataEvent->Set();
    if (session_.m_bLogEnabled.load()) WriteLog(session_, reporter_, data, n);
  }

  PortSession& session_;
  RunReporter& reporter_;
  const size_t blockBytes_;
  uint8_t buffer_[kLargestBlockBytes] = {};
  uint8_t held_[kLargestBlockBytes] = {};
  size_t heldBytes_ = 0;
  platform::PortPtr heldPort_;  // the port the held block came from
  bool done_ = false;
  bool readFailed_ = false;
  bool collectReported_ = false;
  bool modemReported_ = false;
  bool clearReported_ = false;
  BannerScanner banner_;
};

}  // namespace

void SetReceiveBlockBytes(size_t bytes) {
  g_blockBytes.store(std::clamp<size_t>(bytes, 1, kLargestBlockBytes));
}

size_t ReceiveBlockBytes() { return g_blockBytes.load(); }

int rcvProc(PortSession& session, RunReporter& reporter) {
  std::unique_ptr<Receiver> receiver(new (std::nothrow) Receiver(session, reporter));
  if (receiver) receiver->Run();
  return 1;
}
