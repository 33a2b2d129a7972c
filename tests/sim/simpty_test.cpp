// The simulated scanner served on a pseudo-terminal: the program's side is
// the slave device, opened here as the POSIX port would open it; switching
// the scanner off closes the master, which the slave sees as a hang-up. Also
// the vantorel-simpty tool, run as a separate process for one run.
#if !defined(_WIN32)

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "scanner_sim.h"
#include "scanner_transport.h"

namespace {

// The program's end of the pseudo-terminal.
class Slave {
 public:
  explicit Slave(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios settings{};
    if (fd_ >= 0 && ::tcgetattr(fd_, &settings) == 0) {
      ::cfmakeraw(&settings);
      ::tcsetattr(fd_, TCSANOW, &settings);
    }
  }
  ~Slave() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool IsOpen() const { return fd_ >= 0; }
  void Type(const std::string& text) { ASSERT_EQ(::write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size())); }
  // Reads until text arrives; false on time-out or hang-up.
  bool ReadUntil(const std::string& text, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (seen_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= end || !ReadSome(50)) return false;
    }
    return true;
  }
  // Waits for the hang-up: a read that ends with no data.
  bool WaitForHangUp(int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0) {
        if (p.revents & POLLHUP) return true;
        char buffer[256];
        if (::read(fd_, buffer, sizeof buffer) <= 0) return true;
      }
    }
    return false;
  }
  const std::string& Seen() const { return seen_; }

 private:
  bool ReadSome(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready <= 0) return true;
    char buffer[1024];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) return false;
    seen_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  int fd_;
  std::string seen_;
};

TEST(SimPty, ScannerAnswersThroughThePseudoTerminalAndPowerOffHangsUp) {
  std::string path, error;
  auto transport = scanner::OpenPtyTransport(path, error);
  ASSERT_TRUE(transport) << error;
  scanner::ScannerSim sim(std::move(transport), scanner::ScannerConfig::MV2());
  Slave slave(path);
  ASSERT_TRUE(slave.IsOpen()) << path;
  sim.PowerOn();
  slave.Type("****");
  ASSERT_TRUE(slave.ReadUntil("Loader menu")) << slave.Seen() << " received " << sim.Received().size() << " state " << scanner::LoaderStateName(sim.State());
  EXPECT_NE(slave.Seen().find("\r\nQZ6 Boot Loader version 3.1.0 Build 1203\r\n"), std::string::npos);
  slave.Type("3");
  ASSERT_TRUE(slave.ReadUntil("abort"));
  // Bytes pass the tty layer unchanged: CR, LF, 0xFF and 0x00 included.
  const std::string data("a\r\nb\x00\xFF\x7F\x03\x11\x13z", 12);
  slave.Type(data + "\xFF");
  ASSERT_TRUE(slave.ReadUntil("Done!"));
  ASSERT_EQ(sim.BlockCount(scanner::Component::kFpga), 1u);
  EXPECT_EQ(sim.Transfers(scanner::Component::kFpga)[0], std::vector<uint8_t>(data.begin(), data.end()));

  sim.PowerOff();
  EXPECT_TRUE(slave.WaitForHangUp());
}

struct ToolCase {
  const char* name;
  std::string options;
  std::vector<std::pair<std::string, std::string>> steps;  // typed, then awaited ("" for nothing)
  std::vector<std::string> reportLines;
};

// One run of the tool: the path on its first line, the scanner on, the run
// over at the closing key or when the line has been idle in the menu; then
// the hang-up, exit code 0 and the report.
TEST(SimPty, ToolServesOneRunAndReportsWhatItReceived) {
  const std::string tool = std::string(VT_BINARY_DIR) + "/sim/vantorel-simpty";
  if (::access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "vantorel-simpty is not built";
  const ToolCase cases[] = {
      {"closing key", "--family qz600 --idle-off-ms 0", {{"7", "0x1234abcd"}, {"x", ""}},
       {"banners 1", "keys 7x", "record-errors 0", "special-block-received none"}},
      {"idle after the last step", "--family mv2 --idle-off-ms 300 --flash-ms 10",
       {{"1", "send"}, {"S00600004844521B\nS3090001000001020304EB\nS70500000000FA\n\xFF", "Write flash complete"}},
       {"banners 1", "keys 1", "transfer RCP 1 55 bytes header \"HDR\"", "memory RCP 00010000-00010004",
        "record-errors 0"}},
      {"store question and faults", "--family qz500 --store-has-data --dsp-ram-error --idle-off-ms 300",
       {{"1", "Proceed"}, {"n", "aborted"}, {"9", "Erase"}, {"y", "RAM Error"}},
       {"banners 1", "keys 1n9y"}},
  };
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string report = ::testing::TempDir() + "simpty_report.txt";
    std::remove(report.c_str());
    const std::string command = tool + " " + c.options + " --report '" + report + "'";
    FILE* process = ::popen(command.c_str(), "r");
    ASSERT_NE(process, nullptr);
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, process), nullptr);
    std::string path(line);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
    {
      Slave slave(path);
      ASSERT_TRUE(slave.IsOpen()) << path;
      slave.Type("****");
      ASSERT_TRUE(slave.ReadUntil("Loader menu"));
      for (const auto& [keys, awaited] : c.steps) {
        slave.Type(keys);
        if (!awaited.empty()) {
          EXPECT_TRUE(slave.ReadUntil(awaited)) << slave.Seen();
        }
      }
      EXPECT_TRUE(slave.WaitForHangUp());
    }
    EXPECT_EQ(::pclose(process), 0);

    std::ifstream in(report);
    std::string text, reportLine;
    std::vector<std::string> lines;
    while (std::getline(in, reportLine)) lines.push_back(reportLine);
    for (const std::string& expected : c.reportLines) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    }
  }
}

}  // namespace

#endif
