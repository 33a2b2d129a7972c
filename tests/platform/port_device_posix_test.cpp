// What the POSIX serial port opens, and what it leaves behind: a port name
// that leads to a regular file, a FIFO, a folder or a device other than a tty
// is refused before anything opens it, in words that say why; the words for
// a device the user may not open; and a line given back with the settings it
// had before the port was opened.
#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "platform/message_box.h"
#include "platform/posix/tty_device.h"
#include "platform/serial_port.h"
#include "support/line_settings.h"
#include "support/pty_line.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

// Records every open, change and close-after-write of one path from the
// moment it is made. Events are queued as the system call happens, so once
// the call under test has returned, its events are there to read.
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& path) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) {
      watch_ = inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE);
    }
  }
  ~OpenWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  bool Watching() const { return fd_ >= 0 && watch_ >= 0; }
  // The events seen so far (IN_* bits), 0 when none.
  uint32_t Seen() const {
    alignas(inotify_event) char buffer[4096];
    uint32_t mask = 0;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        mask |= event->mask;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return mask;
  }

 private:
  int fd_ = -1;
  int watch_ = -1;
};

struct RefusedPath {
  const char* what;
  // Makes the path in the scratch folder (or names one of the system's);
  // empty when this system does not allow it (the case is skipped).
  std::function<std::string(const testsupport::ScratchDir&)> make;
  // Whether nobody else opens the path meanwhile, so that the watch may
  // insist on no opens at all (not so for the system's /dev/null).
  bool watchOpens;
};

class PortMapScope {
 public:
  explicit PortMapScope(const std::string& path) {
    SetPortMap([path](const std::string& name) { return name == "ZEV5" ? path : std::string(); });
    InstallPortOpener(nullptr);
  }
  ~PortMapScope() { SetPortMap(nullptr); }
};

TEST(PosixPortOpen, PathsThatAreNoSerialDeviceAreRefusedWithoutBeingOpened) {
  testsupport::ScratchDir dir;
  int fifoHolder = -1;
  const RefusedPath cases[] = {
      {"regular file", [](const testsupport::ScratchDir& d) { return d.Write("port", "QZ600 image\n"); },
       true},
      {"FIFO",
       [&fifoHolder](const testsupport::ScratchDir& d) {
         const std::string path = d / "fifo";
         if (::mkfifo(path.c_str(), 0666) != 0) return std::string();
         // Held open at both ends by the test: should anything open it
         // after all, the open cannot hang the test, and the watch sees it.
         fifoHolder = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
         return fifoHolder >= 0 ? path : std::string();
       },
       true},
      {"folder",
       [](const testsupport::ScratchDir& d) {
         const std::string path = d / "folder";
         return ::mkdir(path.c_str(), 0777) == 0 ? path : std::string();
       },
       true},
      {"/dev/null", [](const testsupport::ScratchDir&) { return std::string("/dev/null"); }, false},
      {"a node of the null device",
       [](const testsupport::ScratchDir& d) {
         // The same device as /dev/null under a path only this test uses;
         // making a device node needs the privilege to (CI runs as root).
         const std::string path = d / "null";
         return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 ? path : std::string();
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = c.make(dir);
    if (path.empty()) {
      std::printf("[ SKIPPED  ] %s: this system does not allow it (errno %d)\n", c.what, errno);
      continue;
    }
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    if (S_ISREG(before.st_mode)) {
      // An old time, so that any touch shows.
      const timespec old[2] = {{978307200, 0}, {978307200, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
      ASSERT_EQ(::stat(path.c_str(), &before), 0);
    }
    PortMapScope map(path);
    OpenWatch watch(path);
    ASSERT_TRUE(!c.watchOpens || watch.Watching());

    int error = 0;
    std::string why;
    EXPECT_FALSE(OpenSerialPort("\\\\.\\ZEV5", error, why));
    EXPECT_EQ(error, kErrorNotSerialDevice);
    EXPECT_EQ(why, path + " is not a serial device");

    if (c.watchOpens) {
      EXPECT_EQ(watch.Seen(), 0u) << "the path was opened or changed";
    }
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    if (S_ISREG(before.st_mode)) {
      EXPECT_EQ(testsupport::ReadFile(path), "QZ600 image\n");
      EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
      EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
      EXPECT_EQ(after.st_size, before.st_size);
    }
  }
  if (fifoHolder >= 0) ::close(fifoHolder);
}

TEST(PosixPortOpen, APseudoTerminalStillOpens) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  char name[256];
  ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
  {
    PortMapScope map(name);
    int error = -1;
    std::string why = "left over";
    PortPtr port = OpenSerialPort("ZEV5", error, why);
    EXPECT_TRUE(port) << why;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(why, "");
  }
  ::close(master);
}

TEST(PosixPortOpen, AMissingDeviceIsNamedInTheReason) {
  testsupport::ScratchDir dir;
  const std::string path = dir.Missing("ttyUSB9");
  PortMapScope map(path);
  int error = 0;
  std::string why;
  EXPECT_FALSE(OpenSerialPort("ZEV5", error, why));
  EXPECT_EQ(error, kErrorFileNotFound);
  EXPECT_EQ(why, SystemErrorText(kErrorFileNotFound) + ": " + path);
}

// The kernel's table of tty drivers, in the form Linux gives it.
constexpr const char kDriverTable[] =
    "/dev/tty             /dev/tty        5       0 system:/dev/tty\n"
    "/dev/console         /dev/console    5       1 system:console\n"
    "/dev/ptmx            /dev/ptmx       5       2 system\n"
    "acm                  /dev/ttyACM   166 0-255 serial\n"
    "usbserial            /dev/ttyUSB   188 0-511 serial\n"
    "serial               /dev/ttyS       4 64-95 serial\n"
    "pty_slave            /dev/pts      136 0-1048575 pty:slave\n"
    "unknown              /dev/tty        4 1-63 console\n"
    "broken line 7\n"
    "odd                  /dev/odd      x7 0-9 serial\n";

TEST(TtyDriverTable, ListsTheDevicesOfItsDrivers) {
  struct {
    unsigned major, minor;
    bool listed;
    const char* what;
  } cases[] = {
      {4, 64, true, "ttyS0: first of a range"},  {4, 95, true, "last of a range"},
      {4, 96, false, "just past the range"},     {4, 0, false, "between two ranges of one major"},
      {4, 1, true, "a virtual console"},         {188, 0, true, "ttyUSB0"},
      {166, 3, true, "ttyACM3"},                 {136, 7, true, "a pseudo-terminal"},
      {5, 1, true, "a single minor"},            {5, 3, false, "past a single minor"},
      {1, 3, false, "the null device"},          {7, 0, false, "a major of no tty driver"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(posix::TtyDriverTableLists(kDriverTable, c.major, c.minor), c.listed) << c.what;
  }
  EXPECT_FALSE(posix::TtyDriverTableLists("", 4, 64)) << "an empty table lists nothing";
}

TEST(NotInDeviceGroupText, NamesTheGroupThatMayUseTheDevice) {
  // A group number no system gives a name: named by its number.
  gid_t unnamed = 3999999;
  while (getgrgid(unnamed) != nullptr) ++unnamed;
  struct {
    gid_t group;
    std::string shown;
  } cases[] = {
      {0, "root"},
      {unnamed, std::to_string(unnamed)},
  };
  for (const auto& c : cases) {
    const std::string text = posix::NotInDeviceGroupText("/dev/ttyUSB0", c.group);
    EXPECT_EQ(text, "Permission denied: the user needs to be a member of group " + c.shown +
                        " to use /dev/ttyUSB0 (and to log in again after being added)");
  }
}

// ---- the line given back ----

TEST(PosixPortLine, IsGivenBackAsItWasFoundWhenThePortLetsGo) {
  struct {
    const char* how;
    void (*letGo)(PortPtr& port);
  } cases[] = {
      {"Close", [](PortPtr& port) { port->Close(); }},
      {"Close, then the last holder drops it",
       [](PortPtr& port) {
         port->Close();
         port.reset();
       }},
      {"the last holder drops it without Close", [](PortPtr& port) { port.reset(); }},
      {"Close twice, with a line setting refused in between",
       [](PortPtr& port) {
         port->Close();
         port->SetCommState(testsupport::StationLineSettings());
         port->Close();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    testsupport::PtyLine line;
    ASSERT_TRUE(line.Ready());
    ASSERT_TRUE(line.SetConsoleSettings());
    const std::string before = line.Settings();

    PortMapScope map(line.SlavePath());
    int error = 0;
    PortPtr port = OpenSerialPort("ZEV5", error);
    ASSERT_TRUE(port) << error;
    CommTimeouts timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    ASSERT_TRUE(port->SetCommTimeouts(timeouts));
    ASSERT_TRUE(port->SetCommState(testsupport::StationLineSettings())) << port->LastError();
    ASSERT_TRUE(port->Write("x", 1));
    ASSERT_NE(line.Settings(), before) << "the station's settings are in force while open";

    c.letGo(port);
    EXPECT_EQ(line.Settings(), before);
  }
}

}  // namespace
}  // namespace platform
