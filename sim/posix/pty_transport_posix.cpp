// The scanner simulator on the master side of a pseudo-terminal, so the
// program's POSIX serial port is tested through the kernel's tty layer.
//
// A pseudo-terminal has no modem lines: the program's port reads CTS and DSR
// as on while the master is open and as off once it is closed (a hang-up).
// Switching the scanner off therefore closes the master for good.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "scanner_transport.h"

namespace scanner {
namespace {

class PtyTransport : public ScannerTransport {
 public:
  explicit PtyTransport(int fd) : fd_(fd) {}
  ~PtyTransport() override { Close(); }

  void SetPower(bool on) override {
    if (!on) Close();
  }
  bool HasModemLines() const override { return false; }

  bool Write(const void* data, size_t length) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::lock_guard<std::mutex> lock(ioMutex_);
    size_t done = 0;
    while (done < length) {
      if (fd_ < 0 || closing_) return false;
      // Non-blocking: while the program does not read, wait for room in
      // short steps so that a power-off is not held up for long.
      const ssize_t n = ::write(fd_, bytes + done, length - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, 20);
    }
    return true;
  }

  size_t Read(void* buffer, size_t capacity, uint32_t timeoutMs) override {
    {
      std::lock_guard<std::mutex> lock(ioMutex_);
      if (fd_ >= 0 && !closing_) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(timeoutMs));
        if (ready > 0 && (p.revents & POLLIN)) {
          const ssize_t n = ::read(fd_, buffer, capacity);
          if (n > 0) return static_cast<size_t>(n);
        }
        // Nothing, or a hang-up: until the program opens the slave (and
        // after it closed it) the master reports POLLHUP and reads fail
        // with EIO at once, so wait out the time here.
        if (ready <= 0) return 0;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return 0;
  }

  void Unplug() override { Close(); }
  bool IsPluggedIn() const override { return !closing_; }

 private:
  void Close() {
    closing_ = true;
    std::lock_guard<std::mutex> lock(ioMutex_);
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  std::mutex ioMutex_;  // guards fd_: no read or write on it while it is closed
  int fd_;
  std::atomic<bool> closing_{false};
};

}  // namespace

std::unique_ptr<ScannerTransport> OpenPtyTransport(std::string& slavePath, std::string& error) {
  const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = std::string("posix_openpt: ") + std::strerror(errno);
    return nullptr;
  }
  char name[128];
  if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
    error = std::string("pseudo-terminal set-up: ") + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  // Raw from the start: the terminal settings are shared by both sides, and
  // the line discipline's defaults (echo, CR to LF) would alter the loader's
  // answers until the program applies its own settings.
  termios settings{};
  if (::tcgetattr(fd, &settings) == 0) {
    ::cfmakeraw(&settings);
    ::tcsetattr(fd, TCSANOW, &settings);
  }
  slavePath = name;
  return std::make_unique<PtyTransport>(fd);
}

}  // namespace scanner
