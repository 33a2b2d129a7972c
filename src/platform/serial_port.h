// The serial port as the link layer sees it: open by name, line settings,
// time-outs, modem status, a write that returns only when the bytes are taken,
// a read that completes shortly after the last byte of a burst, and a close
// that ends pending reads and writes on other threads.
//
// Backends: posix/ (termios), win32/ (overlapped calls), sim/ (an in-memory
// null-modem cable). A port is shared by the panel's threads through a
// shared_ptr, so a Reset that closes it on the window thread never frees an
// object another thread is inside: that thread's next call simply fails.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Modem status bits.
constexpr uint32_t MS_CTS_ON = 0x10;
constexpr uint32_t MS_DSR_ON = 0x20;
// Comm event mask.
constexpr uint32_t EV_RXCHAR = 0x0001;

// System error codes the link layer tells apart (Windows values; the POSIX
// backend maps its errno values onto them where the meaning matches).
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorInvalidHandle = 6;
constexpr int kErrorGenFailure = 31;
constexpr int kErrorInvalidParameter = 87;
constexpr int kErrorOperationAborted = 995;
constexpr int kErrorIoPending = 997;
constexpr int kErrorDeviceNotConnected = 1167;
// A port name that leads to something other than a serial device (a regular
// file, a FIFO, /dev/null): refused before it is opened. Bit 29 marks a code
// of this program's own, which no system code carries and no errno value
// reaches.
constexpr int kErrorNotSerialDevice = 0x20000001;

constexpr uint8_t DTR_CONTROL_DISABLE = 0;
constexpr uint8_t DTR_CONTROL_ENABLE = 1;
constexpr uint8_t DTR_CONTROL_HANDSHAKE = 2;
constexpr uint8_t RTS_CONTROL_DISABLE = 0;
constexpr uint8_t RTS_CONTROL_ENABLE = 1;
constexpr uint8_t RTS_CONTROL_HANDSHAKE = 2;
constexpr uint8_t NOPARITY = 0;
constexpr uint8_t ODDPARITY = 1;
constexpr uint8_t EVENPARITY = 2;
constexpr uint8_t ONESTOPBIT = 0;
constexpr uint8_t ONE5STOPBITS = 1;
constexpr uint8_t TWOSTOPBITS = 2;

// The device control block: the line settings, field by field as the system names them.
struct LineSettings {
  uint32_t DCBlength = 0;
  uint32_t BaudRate = 0;
  uint32_t fBinary = 0;
  uint32_t fParity = 0;
  uint32_t fOutxCtsFlow = 0;
  uint32_t fOutxDsrFlow = 0;
  uint32_t fDtrControl = 0;
  uint32_t fDsrSensitivity = 0;
  uint32_t fTXContinueOnXoff = 0;
  uint32_t fOutX = 0;
  uint32_t fInX = 0;
  uint32_t fErrorChar = 0;
  uint32_t fNull = 0;
  uint32_t fRtsControl = 0;
  uint32_t fAbortOnError = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;

  bool operator==(const LineSettings&) const = default;
};

struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// How a read ended. A failed read failed either at once (kFailed: the port
// refused it because it is closed or its device is gone; a POSIX line that
// hangs up while a read waits counts here too, as the system then refuses
// every read alike) or when its outcome was collected (kCollectFailed: the
// system reported an error for a read that had been issued and waited). The
// receiver reports the two in different forms. A read ended by Close is
// kFailed with kErrorOperationAborted.
enum class ReadStatus { kData, kTimeout, kFailed, kCollectFailed };

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  virtual bool GetCommState(LineSettings& settings) = 0;
  // Applies the settings and reads them back; false when the system refused
  // them or the read-back differs in a field the system keeps.
  virtual bool SetCommState(const LineSettings& settings) = 0;
  virtual bool SetCommTimeouts(const CommTimeouts& timeouts) = 0;
  // status receives MS_CTS_ON and MS_DSR_ON bits.
  virtual bool GetCommModemStatus(uint32_t& status) = 0;
  virtual bool ClearCommError() = 0;
  // How often DSR has changed since the port was opened, as the driver
  // counts it: a scanner that lost its power for a moment shows here even
  // when its lines are up again by the time anyone looks. False when the
  // port cannot tell (no modem lines, or a driver that does not count).
  virtual bool GetDsrChangeCount(uint32_t& count) {
    (void)count;
    return false;
  }

  // Writes all bytes and returns once they have left the driver's queue.
  // Bytes not yet sent are held while CTS is low, without time limit; a CTS
  // that drops once they have left (the loader writes flash after the end
  // byte) does not hold the write. False at once when the port is closed or
  // fails.
  virtual bool Write(const void* data, size_t length) = 0;

  // Waits up to timeoutMs (real milliseconds, not scaled) for a first byte,
  // then collects bytes until the line has been quiet for the read interval
  // time-out or capacity is reached. kData with got > 0, kTimeout with got 0,
  // kFailed or kCollectFailed when the port is closed or fails (LastError
  // tells why).
  virtual ReadStatus Read(void* buffer, size_t capacity, size_t& got, uint32_t timeoutMs) = 0;

  // Ends pending and later calls on every thread with failure
  // (kErrorOperationAborted). Idempotent.
  virtual void Close() = 0;

  // The error code of the last failed call on this thread's behalf.
  virtual int LastError() const = 0;

  // How many bytes have reached this port from the line since it was opened,
  // read or still waiting in the driver's queue; false when the port cannot
  // tell. Together with the reader's count of bytes it has finished with
  // (NoteInputHandled), this tells whether anything the scanner said is
  // still on its way to the receive ring, whoever has it at the moment.
  virtual bool GetInputArrived(uint64_t& total) {
    (void)total;
    return false;
  }

  // The port's reader (the receiver) counts the bytes it has finished with:
  // stored in the ring or dropped.
  void NoteInputHandled(size_t count) { handled_.fetch_add(count, std::memory_order_acq_rel); }

  // Bytes that reached the port that its reader has not finished with yet:
  // in the driver's queue, in a read under way or in the reader's hands.
  // False when the port cannot tell.
  bool GetInputPending(uint64_t& pending) {
    // The handled count is taken first: it only grows, and never past what
    // has arrived, so the difference is never negative.
    const uint64_t handled = handled_.load(std::memory_order_acquire);
    uint64_t arrived = 0;
    if (!GetInputArrived(arrived)) return false;
    pending = arrived > handled ? arrived - handled : 0;
    return true;
  }

 private:
  std::atomic<uint64_t> handled_{0};
};

using PortPtr = std::shared_ptr<SerialPort>;

// Opens a port by the name the program uses (COM3, \\.\COM7, ZEV3).
// Returns null and sets error on failure.
using PortOpener = std::function<PortPtr(const std::string& name, int& error)>;

// Replaces how names are opened (tests and the demo hand out sim ports);
// an empty opener restores the operating system's.
void InstallPortOpener(PortOpener opener);
PortPtr OpenSerialPort(const std::string& name, int& error);
// The same, and on failure why, in words for the error box's API details:
// the system's text for the error, with what only the backend can add (on
// POSIX the device the name led to, and for a device the user may not open,
// the group whose members may).
PortPtr OpenSerialPort(const std::string& name, int& error, std::string& why);

// The operating system's opener, provided by the backend chosen by the build.
// why may be left empty: the system's text for error is then used.
PortPtr OpenNativeSerialPort(const std::string& name, int& error, std::string& why);
PortPtr OpenNativeSerialPort(const std::string& name, int& error);

// POSIX only: where a program port name leads. The [Ports] section of the
// configuration file fills it (COM1=/dev/ttyUSB0, ZEV0=/dev/serial/by-id/...);
// an unmapped COMn is /dev/ttyS{n-1}. The device prefix \\.\ is dropped before
// the look-up. Ignored by other backends.
void SetPortMap(const std::function<std::string(const std::string& name)>& lookup);
std::string DevicePathFor(const std::string& name);

// A port name without the device prefix \\.\ that a USB panel's name
// carries: the name as the operator knows it (COM3, ZEV2).
inline std::string WithoutDevicePrefix(const std::string& name) {
  return name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
}

}  // namespace platform
