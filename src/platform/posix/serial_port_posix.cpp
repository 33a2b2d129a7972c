// The serial port on POSIX systems: a tty opened non-blocking, driven with
// termios and poll().
//
// Every blocking call polls the device together with the read end of a
// self-pipe; Close writes one byte into the pipe and never drains it, so every
// pending and later poll wakes at once. The device itself is closed only when
// the last holder drops the port, so no thread ever polls or writes a
// descriptor number the system has already handed to someone else.
//
// A write returns once its bytes have left the driver's queue (output_wait.h),
// so a write made while the scanner is off waits there until it is switched on
// or the port is closed; a CTS that drops after the bytes have left holds the
// write no longer. Devices without modem-control lines (a pseudo-terminal, a
// three-wire adapter) cannot tell either: there a write returns once the
// kernel has taken its bytes.
//
// A path is opened only when it is a character device served by a tty driver
// (tty_device.h). The line settings the device had are kept from the open and
// given back when the port is closed, so that a console, a modem or another
// program that uses the line afterwards finds it as it was, not raw at 57600
// with RTS/CTS.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <string>
#include <utility>

#include "platform/event.h"
#include "platform/message_box.h"
#include "platform/posix/output_wait.h"
#include "platform/posix/tty_device.h"
#include "platform/serial_port.h"

namespace platform {
namespace {

thread_local int t_lastError = 0;

// errno values onto the codes the link layer tells apart.
int MapErrno(int err) {
  switch (err) {
    case ENOENT: return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:  // TIOCEXCL: another program holds the port
    case EWOULDBLOCK:  // our own lock: this program holds the port already
      return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case EIO: return kErrorGenFailure;
    case ENXIO:
    case ENODEV: return kErrorDeviceNotConnected;
    case EINVAL: return kErrorInvalidParameter;
    case ECANCELED: return kErrorOperationAborted;
    default: return err;
  }
}

// On a tty that is already open, EIO means the line hung up: a USB adapter
// was pulled out, or the other side of a pseudo-terminal closed.
int MapIoErrno(int err) { return err == EIO ? kErrorDeviceNotConnected : MapErrno(err); }

bool FailWith(int code) {
  t_lastError = code;
  return false;
}

struct Speed {
  uint32_t rate;
  speed_t code;
};

const Speed kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool SpeedCodeFor(uint32_t rate, speed_t& code) {
  for (const Speed& s : kSpeeds) {
    if (s.rate == rate) {
      code = s.code;
      return true;
    }
  }
  return false;
}

uint32_t RateFor(speed_t code) {
  for (const Speed& s : kSpeeds) {
    if (s.code == code) return s.rate;
  }
  return 0;  // B0 (hang up) or a rate this table does not know
}

tcflag_t SizeFlag(uint8_t byteSize) {
  switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

uint8_t ByteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

// The flags the read-back of SetCommState compares: the ones a driver may
// refuse or round.
constexpr tcflag_t kKeptFlags = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;

// Device files the system offers but that have no modem-control lines (a
// pseudo-terminal, some three-wire adapters) refuse the modem ioctls with one
// of these.
bool NoModemLines(int err) { return err == EINVAL || err == ENOTTY; }

// Microseconds one character takes on the line with these settings: start
// bit, data bits, parity and stop bits. 0 when the rate is unknown.
uint32_t CharacterMicros(const termios& tio) {
  const uint32_t rate = RateFor(cfgetospeed(&tio));
  if (rate == 0) return 0;
  const uint32_t bits = 1 + ByteSizeOf(tio.c_cflag) + ((tio.c_cflag & PARENB) ? 1 : 0) +
                        ((tio.c_cflag & CSTOPB) ? 2 : 1);
  return (bits * 1000000 + rate / 2) / rate;
}

class PosixSerialPort : public SerialPort {
 public:
  static PortPtr Open(const std::string& path, int& error, std::string& why);

  // original: the line settings the device had when it was opened, given
  // back at the close; tio: the ones in force now.
  PosixSerialPort(int fd, int wakeRead, int wakeWrite, bool modemLines, const termios& original,
                  const termios& tio)
      : fd_(fd),
        wakeRead_(wakeRead),
        wakeWrite_(wakeWrite),
        original_(original),
        modemLines_(modemLines),
        characterMicros_(CharacterMicros(tio)),
        ctsFlow_((tio.c_cflag & CRTSCTS) != 0) {}

  ~PosixSerialPort() override {
    // A port dropped without Close gives its line back here. After a Close,
    // a write that had passed its check just before may have queued bytes
    // since; they are discarded as well, or close() would wait the driver's
    // closing_wait (30 s on Linux) on a line whose CTS is low.
    if (!closed_.exchange(true)) {
      RestoreLine();
    } else {
      tcflush(fd_, TCOFLUSH);
    }
    ::close(fd_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
  }

  bool GetCommState(LineSettings& settings) override {
    if (Closed()) return false;
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return FailWith(MapIoErrno(errno));
    int lines = 0;
    const bool haveLines = ioctl(fd_, TIOCMGET, &lines) == 0;
    const bool dtr = haveLines ? (lines & TIOCM_DTR) != 0 : dtrOn_.load();
    const bool rts = haveLines ? (lines & TIOCM_RTS) != 0 : true;
    const bool handshake = (tio.c_cflag & CRTSCTS) != 0;

    LineSettings s{};
    s.DCBlength = 28;
    s.BaudRate = RateFor(cfgetospeed(&tio));
    s.fBinary = 1;  // a tty in raw mode passes every byte
    s.fParity = (tio.c_iflag & INPCK) ? 1 : 0;
    s.fOutxCtsFlow = handshake ? 1 : 0;
    s.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    s.fRtsControl = handshake ? RTS_CONTROL_HANDSHAKE : (rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
    s.fOutX = (tio.c_iflag & IXON) ? 1 : 0;
    s.fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
    s.ByteSize = ByteSizeOf(tio.c_cflag);
    s.Parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? ODDPARITY : EVENPARITY) : NOPARITY;
    s.StopBits = (tio.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    settings = s;
    return true;
  }

  bool SetCommState(const LineSettings& settings) override {
    if (Closed()) return false;
    speed_t speed = B0;
    // Refused before anything is applied: a zero rate would hang the line up,
    // and termios has no mark/space parity or one and a half stop bits.
    if (!SpeedCodeFor(settings.BaudRate, speed) || settings.ByteSize < 5 ||
        settings.ByteSize > 8 || settings.Parity > EVENPARITY ||
        (settings.StopBits != ONESTOPBIT && settings.StopBits != TWOSTOPBITS)) {
      return FailWith(kErrorInvalidParameter);
    }
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return FailWith(MapIoErrno(errno));
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~kKeptFlags;
    tio.c_cflag |= SizeFlag(settings.ByteSize) | CREAD | CLOCAL;
    if (settings.Parity != NOPARITY) tio.c_cflag |= PARENB;
    if (settings.Parity == ODDPARITY) tio.c_cflag |= PARODD;
    if (settings.StopBits == TWOSTOPBITS) tio.c_cflag |= CSTOPB;
    // termios has one flag for both directions of RTS/CTS flow control.
    if (settings.fOutxCtsFlow || settings.fRtsControl == RTS_CONTROL_HANDSHAKE) {
      tio.c_cflag |= CRTSCTS;
    }
    tio.c_iflag &= ~(INPCK | IXON | IXOFF);
    if (settings.fParity) tio.c_iflag |= INPCK;
    if (settings.fOutX) tio.c_iflag |= IXON;
    if (settings.fInX) tio.c_iflag |= IXOFF;
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) return FailWith(MapIoErrno(errno));

    // tcsetattr succeeds when any part of the change was made; only the
    // read-back tells whether the driver took the rate and the frame.
    termios back{};
    if (tcgetattr(fd_, &back) != 0) return FailWith(MapIoErrno(errno));
    if (cfgetospeed(&back) != speed || (back.c_cflag & kKeptFlags) != (tio.c_cflag & kKeptFlags)) {
      return FailWith(kErrorInvalidParameter);
    }
    characterMicros_ = CharacterMicros(back);
    ctsFlow_ = (back.c_cflag & CRTSCTS) != 0;

    const bool dtr = settings.fDtrControl != DTR_CONTROL_DISABLE;
    dtrOn_ = dtr;
    if (!SetLine(TIOCM_DTR, dtr)) return false;
    if (settings.fRtsControl != RTS_CONTROL_HANDSHAKE && !settings.fOutxCtsFlow) {
      if (!SetLine(TIOCM_RTS, settings.fRtsControl == RTS_CONTROL_ENABLE)) return false;
    }
    return true;
  }

  bool SetCommTimeouts(const CommTimeouts& timeouts) override {
    if (Closed()) return false;
    // Only the interval matters here: writes have no time limit in this
    // program, and every read names its own time-out for the first byte.
    readInterval_ = timeouts.ReadIntervalTimeout;
    return true;
  }

  bool GetCommModemStatus(uint32_t& status) override {
    if (Closed()) return false;
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) == 0) {
      status = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0);
      return true;
    }
    const int err = errno;
    // A line that hung up (the USB adapter was pulled out, the other side of
    // a pseudo-terminal closed) refuses every ioctl with EIO; it reads as a
    // scanner switched off, which is what the programming steps wait for.
    if (HungUp()) {
      status = 0;
      return true;
    }
    // Without modem-control lines the scanner's power cannot be seen on CTS
    // and DSR; they read as on while the device is there.
    if (NoModemLines(err)) {
      status = MS_CTS_ON | MS_DSR_ON;
      return true;
    }
    return FailWith(MapIoErrno(err));
  }

  bool ClearCommError() override {
    // A tty has no latched error state to clear: framing and overrun errors
    // are counted by the driver, not held until cleared. Nor is a hang-up an
    // error here; the modem status and the next read report it.
    return !Closed();
  }

  bool Write(const void* data, size_t length) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < length) {
      if (Closed()) return false;
      const ssize_t n = ::write(fd_, bytes + done, length - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return FailWith(MapIoErrno(errno));
      // The kernel's queue is full: the line is slower than we are, or CTS
      // holds it. Wait for room without a time limit, as the link expects.
      switch (WaitFor(POLLOUT, -1)) {
        case Ready::kReady: break;
        case Ready::kTimeout: break;
        case Ready::kClosed: return FailWith(kErrorOperationAborted);
        case Ready::kHangUp: return FailWith(kErrorDeviceNotConnected);
        case Ready::kError: return FailWith(MapErrno(errno));
      }
    }
    // Without modem-control lines neither the driver's queue nor CTS tells
    // when the scanner gets the bytes: the write is done once the kernel has
    // them.
    if (!modemLines_) return true;
    // Not tcdrain: it cannot be ended by a close, and it waits until the
    // UART itself is empty, which leaves the line idle before every block.
    DeviceOutput output(*this);
    if (const int error = posix::WaitUntilSent(output, characterMicros_.load()); error != 0) {
      return FailWith(error);
    }
    return true;
  }

  ReadStatus Read(void* buffer, size_t capacity, size_t& got, uint32_t timeoutMs) override {
    auto* out = static_cast<uint8_t*>(buffer);
    got = 0;
    if (Closed()) return ReadStatus::kFailed;
    if (capacity == 0) return ReadStatus::kTimeout;

    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs == kInfinite;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    while (got == 0) {
      int waitMs = -1;
      if (!forever) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        waitMs = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
      }
      switch (WaitFor(POLLIN, waitMs)) {
        case Ready::kReady: break;
        case Ready::kTimeout:
          if (!forever && Clock::now() >= deadline) return ReadStatus::kTimeout;
          continue;
        case Ready::kClosed: FailWith(kErrorOperationAborted); return ReadStatus::kFailed;
        case Ready::kHangUp: FailWith(kErrorDeviceNotConnected); return ReadStatus::kFailed;
        case Ready::kError: FailWith(MapErrno(errno)); return ReadStatus::kCollectFailed;
      }
      if (!ReadSome(out, capacity, got)) {
        // A line that hung up is a device gone; any other error came from a
        // device that is still there, when the bytes were fetched.
        return t_lastError == kErrorDeviceNotConnected ? ReadStatus::kFailed
                                                       : ReadStatus::kCollectFailed;
      }
    }

    // The rest of the burst: more bytes until the line has been quiet for
    // the read interval. An interval of 0 or MAXDWORD hands out at once what
    // has arrived.
    const uint32_t interval = readInterval_.load();
    if (interval == 0 || interval == kInfinite) return ReadStatus::kData;
    const int intervalMs = static_cast<int>(std::min<uint32_t>(interval, INT_MAX));
    while (got < capacity) {
      // A close or hang-up in mid-burst: the bytes already read are handed
      // out; the next call reports the failure.
      if (WaitFor(POLLIN, intervalMs) != Ready::kReady) break;
      const size_t before = got;
      if (!ReadSome(out, capacity, got) || got == before) break;
    }
    return ReadStatus::kData;
  }

  bool GetInputArrived(uint64_t& total) override {
    if (Closed()) return false;
    // The kernel's queue first, then what was read: a byte read in between
    // is counted twice (the settling looks once more), never missed. One
    // taken by read() whose count is not yet added is missed for a moment;
    // the quiet gap of the settling covers it.
    int queued = 0;
    if (ioctl(fd_, FIONREAD, &queued) != 0) return FailWith(MapErrno(errno));
    total = static_cast<uint64_t>(std::max(queued, 0)) + bytesRead_.load();
    return true;
  }

  void Close() override {
    if (closed_.exchange(true)) return;
    RestoreLine();
    const char wake = 1;
    // The pipe is never drained, so it stays readable for every later poll.
    while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
    }
  }

  int LastError() const override { return t_lastError; }

 private:
  enum class Ready { kReady, kTimeout, kClosed, kHangUp, kError };

  // The device as a write's wait for its bytes sees it: the driver's output
  // queue, CTS, and pauses that a close or a hang-up ends at once.
  class DeviceOutput : public posix::OutputLine {
   public:
    explicit DeviceOutput(PosixSerialPort& port) : port_(port) {}

    bool Read(Sample& sample, int& error) override {
      int queued = 0;
      if (ioctl(port_.fd_, TIOCOUTQ, &queued) != 0) {
        const int err = errno;
        // A driver that cannot count its queue is taken as holding nothing:
        // the write is done once the kernel has its bytes, as on a line
        // without modem-control lines, and the driver's own flow control
        // holds them while CTS is low. Waiting for CTS instead cannot tell a
        // byte still held from one the loader took before lowering CTS to
        // write flash, and would hold the end byte's write until the flash
        // write ends, or for ever when the loader hangs. A scanner that never
        // takes the bytes shows as the loader's completion time-out.
        if (!NoModemLines(err)) return Failed(err, error);
        queued = 0;
      }
      sample.queued = queued > 0 ? static_cast<size_t>(queued) : 0;
      // An empty queue ends the wait whatever CTS says: no need to read it.
      if (sample.queued == 0) return true;
      int lines = 0;
      if (ioctl(port_.fd_, TIOCMGET, &lines) != 0) return Failed(errno, error);
      // Without CTS flow control the line sends whatever CTS says.
      sample.clearToSend = !port_.ctsFlow_.load() || (lines & TIOCM_CTS) != 0;
      return true;
    }

    bool Pause(int ms, int& error) override {
      // No events asked: only a close, a hang-up or the time ends the poll.
      switch (port_.WaitFor(0, ms)) {
        case Ready::kReady:
        case Ready::kTimeout: return true;
        case Ready::kClosed: error = kErrorOperationAborted; return false;
        case Ready::kHangUp: error = kErrorDeviceNotConnected; return false;
        case Ready::kError: error = MapErrno(errno); return false;
      }
      return true;
    }

   private:
    bool Failed(int err, int& error) const {
      error = port_.closed_.load() ? kErrorOperationAborted
              : port_.HungUp()     ? kErrorDeviceNotConnected
                                   : MapIoErrno(err);
      return false;
    }

    PosixSerialPort& port_;
  };

  bool Closed() const {
    if (!closed_.load()) return false;
    t_lastError = kErrorOperationAborted;
    return true;
  }

  // Waits until the device is ready for events, the port is closed or
  // timeoutMs (-1: forever) has passed.
  Ready WaitFor(short events, int timeoutMs) {
    pollfd fds[2] = {{fd_, events, 0}, {wakeRead_, POLLIN, 0}};
    int rc;
    do {
      rc = ::poll(fds, 2, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return Ready::kError;
    if (fds[1].revents != 0 || closed_.load()) return Ready::kClosed;
    if (rc == 0) return Ready::kTimeout;
    if (fds[0].revents & events) return Ready::kReady;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Ready::kHangUp;
    return Ready::kTimeout;
  }

  // Reads what the kernel holds into out[got..capacity). False on failure
  // with nothing read so far in this call's burst.
  bool ReadSome(uint8_t* out, size_t capacity, size_t& got) {
    for (;;) {
      const ssize_t n = ::read(fd_, out + got, capacity - got);
      if (n > 0) {
        got += static_cast<size_t>(n);
        bytesRead_.fetch_add(static_cast<uint64_t>(n));
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      // End of file on a tty: the line hung up.
      const int code = n == 0 ? kErrorDeviceNotConnected : MapIoErrno(errno);
      if (got > 0) return false;
      return FailWith(code);
    }
  }

  bool HungUp() const {
    pollfd p{fd_, 0, 0};  // POLLHUP and POLLERR are reported whatever is asked
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)) != 0;
  }

  // Gives the line the settings it had when the port was opened (every
  // termios field: modes, rate, frame, flow control, control characters).
  // The program's bytes still queued are dropped first, not waited for: a
  // close comes from a Reset that abandons the run, from a panel's teardown
  // after its run has ended (a write returns only once its bytes have left),
  // or from a device that is gone; and waiting for them could last for ever
  // while a switched-off scanner holds CTS low. Nor would they be any use
  // sent at the restored rate. TCSANOW applies the settings at once, without
  // waiting for output. Failures are not reported: on a line that hung up
  // there is nothing left to restore.
  void RestoreLine() {
    tcflush(fd_, TCOFLUSH);
    tcsetattr(fd_, TCSANOW, &original_);
  }

  // Raises or drops one modem-control output line.
  bool SetLine(int line, bool on) {
    if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
    // Without modem-control lines there is nothing to raise.
    if (NoModemLines(errno)) return true;
    return FailWith(MapIoErrno(errno));
  }

  const int fd_;
  const int wakeRead_;
  const int wakeWrite_;
  const termios original_;  // the line as the device had it at the open
  std::atomic<bool> closed_{false};
  std::atomic<uint32_t> readInterval_{1};  // ms of quiet that end a burst
  std::atomic<uint64_t> bytesRead_{0};     // every byte read() handed out
  std::atomic<bool> dtrOn_{true};          // DTR as last applied, for devices without lines
  const bool modemLines_;                  // the device has CTS and DSR to read
  std::atomic<uint32_t> characterMicros_;  // time of one character at the rate in force
  std::atomic<bool> ctsFlow_;              // output obeys CTS (RTS/CTS handshake in force)
};

PortPtr PosixSerialPort::Open(const std::string& path, int& error, std::string& why) {
  auto refuse = [&](int code, std::string text) -> PortPtr {
    error = code;
    why = std::move(text);
    return nullptr;
  };
  // The system's text with the device the name led to: a COMn the operator
  // knows may lead to a path of the [Ports] section or to /dev/ttyS(n-1).
  auto refuseWith = [&](int code) { return refuse(code, SystemErrorText(code) + ": " + path); };
  auto refuseNotSerial = [&] { return refuse(kErrorNotSerialDevice, path + " is not a serial device"); };

  // Looked at before it is opened: opening a regular file read-write is a
  // change of it, opening some devices does something of its own, and a
  // FIFO may have a reader waiting. Only a tty driver's character device is
  // opened at all.
  struct stat before {};
  if (::stat(path.c_str(), &before) != 0) return refuseWith(MapErrno(errno));
  if (!S_ISCHR(before.st_mode) || !posix::IsTtyDevice(before.st_rdev)) return refuseNotSerial();

  // O_NOCTTY: a port must never become the program's controlling terminal, or
  // a hang-up of the line would signal the whole program. O_NONBLOCK: the open
  // does not wait for carrier, and every later wait goes through poll().
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    // Serial devices usually belong to a group (dialout, uucp) whose members
    // may use them; a user outside it is told which group that is.
    constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
    if (err == EACCES && (before.st_mode & kGroupReadWrite) == kGroupReadWrite) {
      return refuse(MapErrno(err), posix::NotInDeviceGroupText(path, before.st_gid));
    }
    return refuseWith(MapErrno(err));
  }
  auto fail = [&](int code) -> PortPtr {
    ::close(fd);
    return refuseWith(code);
  };
  // The path may have been replaced between the look and the open (a link
  // under /dev/serial changes as adapters come and go).
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) return fail(MapErrno(errno));
  if (!S_ISCHR(opened.st_mode) || opened.st_rdev != before.st_rdev || !isatty(fd)) {
    ::close(fd);
    return refuseNotSerial();
  }

  // Ports are opened without sharing. TIOCEXCL keeps other programs out but
  // does not apply to a privileged process, so a lock on the device keeps out
  // a second open by this program as well, whoever runs it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(MapErrno(errno));
  if (ioctl(fd, TIOCEXCL) != 0) return fail(MapErrno(errno));

  // Raw bytes in both directions. The rate and frame (c_cflag) are left as
  // the device had them, so that GetCommState reads the settings to restore
  // at the end; CLOCAL keeps a missing carrier from hanging the line up. The
  // whole of the former settings is kept for the close.
  termios original{};
  if (tcgetattr(fd, &original) != 0) return fail(MapErrno(errno));
  termios tio = original;
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag |= CREAD | CLOCAL;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return fail(MapErrno(errno));
  // From here on a failure gives the line back as it was found.
  auto failRestoring = [&](int code) -> PortPtr {
    tcsetattr(fd, TCSANOW, &original);
    return fail(code);
  };

  int wake[2];
  if (::pipe(wake) != 0) return failRestoring(MapErrno(errno));
  for (int end : wake) {
    ::fcntl(end, F_SETFD, FD_CLOEXEC);
    ::fcntl(end, F_SETFL, O_NONBLOCK);
  }
  // A pseudo-terminal or a three-wire adapter refuses the modem ioctls.
  int lines = 0;
  const bool modemLines = ioctl(fd, TIOCMGET, &lines) == 0;
  error = 0;
  why.clear();
  return std::make_shared<PosixSerialPort>(fd, wake[0], wake[1], modemLines, original, tio);
}

}  // namespace

PortPtr OpenNativeSerialPort(const std::string& name, int& error, std::string& why) {
  const std::string path = DevicePathFor(name);
  if (path.empty()) {
    error = kErrorFileNotFound;
    why.clear();
    return nullptr;
  }
  return PosixSerialPort::Open(path, error, why);
}

}  // namespace platform
