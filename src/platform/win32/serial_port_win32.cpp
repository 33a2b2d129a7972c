// The serial port on Windows: a comm device opened for overlapped I/O.
//
// Every read and write is issued overlapped with an event of its own call and
// waited for before the call returns, so the receiver's reads and the
// programming thread's writes run side by side on one handle, and no I/O is
// ever left pending on a buffer or OVERLAPPED that has gone away.
//
// Close marks the port closed and cancels everything pending on the handle
// (CancelIoEx), which then ends with ERROR_OPERATION_ABORTED. A call that
// issues its I/O just as the port is closed looks at the mark after issuing
// and cancels its own, so nothing issued after Close can wait for ever. The
// handle itself is closed only when the last holder drops the port, so no
// thread ever uses a handle value the system has handed to someone else.
//
// A failure that says the device has vanished (the table of device_gone.h)
// is reported as kErrorDeviceNotConnected, whatever code the driver chose, so
// the line watch ends the run as it does on POSIX.
//
// Reads rely on the driver's time-outs rather than on cancelling: the read
// interval ends a burst, and the total time-out of each read is its wait for
// the first byte. A read cut short by cancelling may lose the bytes a driver
// had already taken in; a read that ends on its time-out never does.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/event.h"
#include "platform/serial_port.h"
#include "platform/win32/device_gone.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

thread_local int t_lastError = 0;

constexpr char kDevicePrefix[] = "\\\\.\\";

// The largest single ReadFile or WriteFile; longer writes go in pieces.
constexpr size_t kMaxTransfer = 1u << 30;

// How much longer than its own time-out a read waits for the driver to end
// it before cancelling it: a driver that ignores total time-outs must not
// hold the receiver for ever.
constexpr DWORD kDriverGraceMs = 2000;

bool FailWith(int code) {
  t_lastError = code;
  return false;
}

// A manual-reset event for one overlapped call.
class CallEvent {
 public:
  CallEvent() : handle_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~CallEvent() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  CallEvent(const CallEvent&) = delete;
  CallEvent& operator=(const CallEvent&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Port drivers without modem-control lines (wine's ports on a
// pseudo-terminal, some virtual ports) refuse the modem status with one of
// these.
bool NoModemLines(DWORD err) { return err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_FUNCTION; }

class Win32SerialPort : public SerialPort {
 public:
  explicit Win32SerialPort(HANDLE handle) : handle_(handle) {}
  ~Win32SerialPort() override { ::CloseHandle(handle_); }
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  // Sets the read time-outs every later read starts from. False when the
  // driver refuses them.
  bool Prepare() {
    std::lock_guard<std::mutex> lock(timeoutsMutex_);
    return ApplyTimeouts(ReadTimeoutsFor(0));
  }

  bool GetCommState(LineSettings& settings) override {
    if (Closed()) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!::GetCommState(handle_, &dcb)) return FailWithLastError();
    LineSettings s{};
    s.DCBlength = dcb.DCBlength;
    s.BaudRate = dcb.BaudRate;
    s.fBinary = dcb.fBinary;
    s.fParity = dcb.fParity;
    s.fOutxCtsFlow = dcb.fOutxCtsFlow;
    s.fOutxDsrFlow = dcb.fOutxDsrFlow;
    s.fDtrControl = dcb.fDtrControl;
    s.fDsrSensitivity = dcb.fDsrSensitivity;
    s.fTXContinueOnXoff = dcb.fTXContinueOnXoff;
    s.fOutX = dcb.fOutX;
    s.fInX = dcb.fInX;
    s.fErrorChar = dcb.fErrorChar;
    s.fNull = dcb.fNull;
    s.fRtsControl = dcb.fRtsControl;
    s.fAbortOnError = dcb.fAbortOnError;
    s.XonLim = dcb.XonLim;
    s.XoffLim = dcb.XoffLim;
    s.ByteSize = dcb.ByteSize;
    s.Parity = dcb.Parity;
    s.StopBits = dcb.StopBits;
    s.XonChar = dcb.XonChar;
    s.XoffChar = dcb.XoffChar;
    s.ErrorChar = dcb.ErrorChar;
    s.EofChar = dcb.EofChar;
    s.EvtChar = dcb.EvtChar;
    settings = s;
    return true;
  }

  bool SetCommState(const LineSettings& settings) override {
    if (Closed()) return false;
    DCB dcb{};
    // The system's own size, whatever the caller's record says: the call
    // refuses any other.
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = settings.BaudRate;
    dcb.fBinary = settings.fBinary;
    dcb.fParity = settings.fParity;
    dcb.fOutxCtsFlow = settings.fOutxCtsFlow;
    dcb.fOutxDsrFlow = settings.fOutxDsrFlow;
    dcb.fDtrControl = settings.fDtrControl;
    dcb.fDsrSensitivity = settings.fDsrSensitivity;
    dcb.fTXContinueOnXoff = settings.fTXContinueOnXoff;
    dcb.fOutX = settings.fOutX;
    dcb.fInX = settings.fInX;
    dcb.fErrorChar = settings.fErrorChar;
    dcb.fNull = settings.fNull;
    dcb.fRtsControl = settings.fRtsControl;
    dcb.fAbortOnError = settings.fAbortOnError;
    dcb.XonLim = settings.XonLim;
    dcb.XoffLim = settings.XoffLim;
    dcb.ByteSize = settings.ByteSize;
    dcb.Parity = settings.Parity;
    dcb.StopBits = settings.StopBits;
    dcb.XonChar = settings.XonChar;
    dcb.XoffChar = settings.XoffChar;
    dcb.ErrorChar = settings.ErrorChar;
    dcb.EofChar = settings.EofChar;
    dcb.EvtChar = settings.EvtChar;
    if (!::SetCommState(handle_, &dcb)) return FailWithLastError();

    // Some drivers take settings they cannot run and round the rate; only
    // the read-back tells. Compared are the rate, the frame and output flow
    // control. The RTS mode is not: some drivers (wine's among them) report
    // RTS handshake as RTS on.
    DCB back{};
    back.DCBlength = sizeof(DCB);
    if (!::GetCommState(handle_, &back)) return FailWithLastError();
    if (back.BaudRate != dcb.BaudRate || back.ByteSize != dcb.ByteSize ||
        back.Parity != dcb.Parity || back.StopBits != dcb.StopBits ||
        back.fOutxCtsFlow != dcb.fOutxCtsFlow) {
      return FailWith(kErrorInvalidParameter);
    }
    return true;
  }

  bool SetCommTimeouts(const CommTimeouts& timeouts) override {
    if (Closed()) return false;
    // Only the interval is the caller's: every read sets its own total
    // time-out, and writes have no time limit in this program.
    std::lock_guard<std::mutex> lock(timeoutsMutex_);
    const DWORD previous = interval_;
    interval_ = timeouts.ReadIntervalTimeout;
    COMMTIMEOUTS next = applied_;
    next.ReadIntervalTimeout = SystemInterval();
    if (!ApplyTimeouts(next)) {
      interval_ = previous;
      return false;
    }
    return true;
  }

  bool GetCommModemStatus(uint32_t& status) override {
    if (Closed()) return false;
    DWORD lines = 0;
    if (::GetCommModemStatus(handle_, &lines)) {
      status = lines & (MS_CTS_ON | MS_DSR_ON);
      return true;
    }
    const DWORD err = ::GetLastError();
    // Without modem-control lines the scanner's power cannot be seen on CTS
    // and DSR; they read as on while the port is there.
    if (NoModemLines(err)) {
      status = MS_CTS_ON | MS_DSR_ON;
      return true;
    }
    return FailWithIo(err);
  }

  bool ClearCommError() override {
    if (Closed()) return false;
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(handle_, &errors, &stat)) return FailWithLastError();
    return true;
  }

  bool Write(const void* data, size_t length) override {
    if (Closed()) return false;
    CallEvent event;
    if (event.get() == nullptr) return FailWithLastError();
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < length) {
      const DWORD piece = static_cast<DWORD>(std::min(length - done, kMaxTransfer));
      OVERLAPPED ov{};
      ov.hEvent = event.get();
      if (!::WriteFile(handle_, bytes + done, piece, nullptr, &ov)) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_IO_PENDING) return FailWithIo(err);
        CancelIfClosed(ov);
      }
      // No time limit: output waits while CTS is low, until it rises or the
      // port is closed.
      DWORD written = 0;
      if (!::GetOverlappedResult(handle_, &ov, &written, TRUE)) return FailWithIo(::GetLastError());
      // A piece that went out short is continued; one that moved nothing
      // would repeat for ever.
      if (written == 0) return FailWith(kErrorGenFailure);
      done += written;
      if (done < length && Closed()) return false;
    }
    return true;
  }

  ReadStatus Read(void* buffer, size_t capacity, size_t& got, uint32_t timeoutMs) override {
    got = 0;
    if (Closed()) return ReadStatus::kFailed;
    if (capacity == 0) return ReadStatus::kTimeout;
    // One read at a time: its wait for the first byte is a setting of the
    // port, which a second read at the same time would overwrite.
    std::lock_guard<std::mutex> readLock(readMutex_);
    {
      std::lock_guard<std::mutex> lock(timeoutsMutex_);
      if (!ApplyTimeouts(ReadTimeoutsFor(timeoutMs))) return ReadStatus::kFailed;
    }
    CallEvent event;
    if (event.get() == nullptr) {
      FailWithLastError();
      return ReadStatus::kFailed;
    }
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    bool cancelledHere = false;  // this read cancelled itself for want of a driver time-out
    const DWORD wanted = static_cast<DWORD>(std::min(capacity, kMaxTransfer));
    if (!::ReadFile(handle_, buffer, wanted, nullptr, &ov)) {
      const DWORD err = ::GetLastError();
      if (err != ERROR_IO_PENDING) {
        FailWithIo(err);
        return ReadStatus::kFailed;
      }
      CancelIfClosed(ov);
      const DWORD grace =
          timeoutMs == kInfinite ? INFINITE : std::min<DWORD>(timeoutMs, INFINITE - 1 - kDriverGraceMs) + kDriverGraceMs;
      if (::WaitForSingleObject(ov.hEvent, grace) == WAIT_TIMEOUT) {
        ::CancelIoEx(handle_, &ov);
        cancelledHere = true;
      }
    }
    DWORD n = 0;
    const bool ok = ::GetOverlappedResult(handle_, &ov, &n, TRUE) != FALSE;
    const DWORD err = ok ? ERROR_SUCCESS : ::GetLastError();
    got = n;
    bytesRead_.fetch_add(n);
    // Bytes that arrived are handed out however the read ended; a close in
    // mid-burst is reported by the next call.
    if (n > 0) return ReadStatus::kData;
    if (Closed()) return ReadStatus::kFailed;
    // The total time-out ends a quiet read with success and no bytes on
    // Windows, with ERROR_TIMEOUT on wine; a read cancelled above for want
    // of a driver time-out is quiet too. A read aborted by anyone else was
    // cancelled by the driver of a device that has gone.
    if (ok || err == ERROR_TIMEOUT || (err == ERROR_OPERATION_ABORTED && cancelledHere)) {
      return ReadStatus::kTimeout;
    }
    // The read was issued and failed when it was collected.
    FailWithIo(err);
    return ReadStatus::kCollectFailed;
  }

  bool GetInputArrived(uint64_t& total) override {
    if (Closed()) return false;
    // The driver's queue first, then what was read: a byte read in between
    // is counted twice (the settling looks once more), never missed.
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(handle_, &errors, &stat)) return FailWithLastError();
    total = static_cast<uint64_t>(stat.cbInQue) + bytesRead_.load();
    return true;
  }

  void Close() override {
    if (closed_.exchange(true)) return;
    ::CancelIoEx(handle_, nullptr);
  }

  int LastError() const override { return t_lastError; }

 private:
  bool Closed() const {
    if (!closed_.load()) return false;
    t_lastError = kErrorOperationAborted;
    return true;
  }

  bool FailWithLastError() { return FailWithIo(::GetLastError()); }

  // After Close every failure is the close, whatever the driver said; before
  // it, a failure from the table of a vanished device is that.
  bool FailWithIo(DWORD err) {
    if (closed_.load()) return FailWith(kErrorOperationAborted);
    if (win32::IsDeviceGoneCode(err, false)) return FailWith(kErrorDeviceNotConnected);
    return FailWith(static_cast<int>(err));
  }

  // I/O issued just as another thread closed the port may have missed its
  // CancelIoEx; it cancels itself.
  void CancelIfClosed(OVERLAPPED& ov) {
    if (closed_.load()) ::CancelIoEx(handle_, &ov);
  }

  // The driver's interval between two bytes that ends a read. An interval of
  // 0 or MAXDWORD asks for what has arrived at once; the read-at-once modes
  // built on MAXDWORD are not kept by every driver (wine's wait for data in
  // them regardless), so the shortest real interval stands in.
  DWORD SystemInterval() const {
    return (interval_ == 0 || interval_ == MAXDWORD) ? 1 : interval_;
  }

  // A read waits up to timeoutMs in total for its first byte; the interval
  // then ends it. A total of 0 means no total time-out to the system, so a
  // read that must not wait still waits 1 ms.
  COMMTIMEOUTS ReadTimeoutsFor(uint32_t timeoutMs) const {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = SystemInterval();
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = timeoutMs == kInfinite ? 0 : std::max<DWORD>(timeoutMs, 1);
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 0;
    return t;
  }

  // Called with timeoutsMutex_ held. The receiver reads with the same
  // time-outs slice after slice; they go to the driver only when they change.
  bool ApplyTimeouts(const COMMTIMEOUTS& t) {
    if (haveApplied_ && std::memcmp(&t, &applied_, sizeof t) == 0) return true;
    COMMTIMEOUTS copy = t;
    if (!::SetCommTimeouts(handle_, &copy)) return FailWithLastError();
    applied_ = t;
    haveApplied_ = true;
    return true;
  }

  const HANDLE handle_;
  std::atomic<bool> closed_{false};
  std::atomic<uint64_t> bytesRead_{0};  // every byte a read handed out
  std::mutex readMutex_;      // one read at a time (see Read)
  std::mutex timeoutsMutex_;  // guards interval_, applied_, haveApplied_ and the driver's time-outs
  DWORD interval_ = 1;        // ms of quiet that end a burst, as the caller set it
  COMMTIMEOUTS applied_{};
  bool haveApplied_ = false;
};

}  // namespace

// The system's own text says why an open failed: why stays empty.
PortPtr OpenNativeSerialPort(const std::string& name, int& error, std::string& why) {
  why.clear();
  if (name.empty()) {
    error = kErrorFileNotFound;
    return nullptr;
  }
  // The bare names COM1..COM9 are system aliases; COM10 and above, and the
  // USB driver's ZEVn, open only as device paths. \\.\COM3 is the same port
  // as COM3, so every name is opened as a device path.
  const std::string path = name.rfind(kDevicePrefix, 0) == 0 ? name : kDevicePrefix + name;
  // No sharing: a port another program (or another panel) holds cannot be
  // opened.
  HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(::GetLastError());
    return nullptr;
  }
  auto port = std::make_shared<Win32SerialPort>(handle);
  // Something that opens but has no line settings is no serial port.
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  if (!::GetCommState(handle, &dcb)) {
    error = static_cast<int>(::GetLastError());
    return nullptr;
  }
  if (!port->Prepare()) {
    error = port->LastError();
    return nullptr;
  }
  error = 0;
  return port;
}

}  // namespace platform
