// The POSIX serial port end to end through the kernel's tty layer: the port
// opens the slave side of a pseudo-terminal, the test plays the scanner on
// the master side.
#if !defined(_WIN32)

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/serial_port.h"
#include "platform/time.h"
#include "support/line_settings.h"

namespace platform {
namespace {

constexpr int kLongMs = 10000;  // only reached when something is broken

std::vector<uint8_t> AllByteValues(size_t count) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + i / 256);
  return bytes;
}

class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    char name[256];
    ASSERT_EQ(ptsname_r(master_, name, sizeof name), 0);
    slavePath_ = name;
    const std::string path = slavePath_;
    SetPortMap([path](const std::string& portName) {
      return portName == "COM42" ? path : std::string();
    });
    InstallPortOpener(nullptr);
    int error = -1;
    port_ = OpenSerialPort("\\\\.\\COM42", error);
    ASSERT_TRUE(port_) << "error " << error;
    EXPECT_EQ(error, 0);
  }

  void TearDown() override {
    port_.reset();
    CloseMaster();
    SetPortMap(nullptr);
  }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void MasterWrite(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      ASSERT_GT(n, 0) << errno;
      done += static_cast<size_t>(n);
    }
  }

  std::vector<uint8_t> MasterRead(size_t count) {
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    while (bytes.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, kLongMs) != 1) break;
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

  std::vector<uint8_t> PortRead(size_t count) {
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    while (bytes.size() < count) {
      size_t got = 0;
      if (port_->Read(buffer, sizeof buffer, got, kLongMs) != ReadStatus::kData) break;
      bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
  }

  int master_ = -1;
  std::string slavePath_;
  PortPtr port_;
};

TEST_F(PtyPortTest, EveryByteValueTravelsBothWaysUnchanged) {
  ASSERT_TRUE(port_->SetCommState(testsupport::StationLineSettings()));
  const auto bytes = AllByteValues(1024);  // CR, LF, ^C, XON, XOFF, DEL, 0xFF ...

  ASSERT_TRUE(port_->Write(bytes.data(), bytes.size()));
  EXPECT_EQ(MasterRead(bytes.size()), bytes);

  MasterWrite(bytes);
  EXPECT_EQ(PortRead(bytes.size()), bytes);
}

// What reached the port counts as pending, queued in the kernel or read,
// until the reader notes it handled: a step that lets the line settle before
// its key sees every byte that is on its way to the ring.
TEST_F(PtyPortTest, InputIsPendingUntilTheReaderHandledIt) {
  ASSERT_TRUE(port_->SetCommState(testsupport::StationLineSettings()));
  MasterWrite(AllByteValues(20));
  uint64_t pending = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLongMs);
  while (port_->GetInputPending(pending) && pending < 20 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(pending, 20u);

  uint8_t buffer[8];
  size_t got = 0;
  ASSERT_EQ(port_->Read(buffer, sizeof buffer, got, kLongMs), ReadStatus::kData);
  ASSERT_EQ(got, 8u);
  ASSERT_TRUE(port_->GetInputPending(pending));
  EXPECT_EQ(pending, 20u) << "read but not yet handled";
  port_->NoteInputHandled(got);
  ASSERT_TRUE(port_->GetInputPending(pending));
  EXPECT_EQ(pending, 12u);
}

TEST_F(PtyPortTest, LargeWriteWaitsForRoomWhileTheOtherSideReads) {
  // More than the pseudo-terminal buffers, so the write must wait for room.
  const auto bytes = AllByteValues(256 * 1024);
  std::vector<uint8_t> received;
  std::thread reader([&] { received = MasterRead(bytes.size()); });
  EXPECT_TRUE(port_->Write(bytes.data(), bytes.size()));
  reader.join();
  EXPECT_EQ(received, bytes);
}

TEST_F(PtyPortTest, ReadTimesOutOnASilentLine) {
  uint8_t buffer[16];
  size_t got = 7;
  EXPECT_EQ(port_->Read(buffer, sizeof buffer, got, 5), ReadStatus::kTimeout);
  EXPECT_EQ(got, 0u);
}

TEST_F(PtyPortTest, ReadStopsAtCapacity) {
  MasterWrite({'Q', 'Z', '6', '0', '0'});
  uint8_t buffer[3];
  size_t got = 0;
  ASSERT_EQ(port_->Read(buffer, sizeof buffer, got, kLongMs), ReadStatus::kData);
  EXPECT_EQ(std::string(buffer, buffer + got), "QZ6");
  EXPECT_EQ(PortRead(2), (std::vector<uint8_t>{'0', '0'}));
}

TEST_F(PtyPortTest, LineSettingsAreAppliedAndReadBack) {
  // A pseudo-terminal carries 8-bit bytes without parity whatever it is told,
  // so the frames tried here vary only in what it keeps.
  struct {
    uint32_t rate;
    uint8_t byteSize, parity, stopBits;
    bool handshake;
  } cases[] = {
      {57600, 8, NOPARITY, ONESTOPBIT, true},   {9600, 8, NOPARITY, ONESTOPBIT, false},
      {19200, 8, NOPARITY, TWOSTOPBITS, false}, {115200, 8, NOPARITY, TWOSTOPBITS, true},
      {300, 8, NOPARITY, ONESTOPBIT, true},
  };
  for (const auto& c : cases) {
    LineSettings s = testsupport::StationLineSettings();
    s.BaudRate = c.rate;
    s.ByteSize = c.byteSize;
    s.Parity = c.parity;
    s.StopBits = c.stopBits;
    s.fOutxCtsFlow = c.handshake ? 1 : 0;
    s.fRtsControl = c.handshake ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    ASSERT_TRUE(port_->SetCommState(s)) << c.rate << " error " << port_->LastError();
    LineSettings back;
    ASSERT_TRUE(port_->GetCommState(back));
    EXPECT_EQ(back, s) << c.rate;
  }
}

TEST_F(PtyPortTest, SettingsTheSystemCannotMakeAreRefused) {
  ASSERT_TRUE(port_->SetCommState(testsupport::StationLineSettings()));
  struct {
    const char* what;
    void (*spoil)(LineSettings&);
  } cases[] = {
      {"no rate", [](LineSettings& s) { s.BaudRate = 0; }},
      {"odd rate", [](LineSettings& s) { s.BaudRate = 12345; }},
      {"9 data bits", [](LineSettings& s) { s.ByteSize = 9; }},
      {"mark parity", [](LineSettings& s) { s.Parity = 3; }},
      {"1.5 stop bits", [](LineSettings& s) { s.StopBits = ONE5STOPBITS; }},
  };
  for (const auto& c : cases) {
    LineSettings bad = testsupport::StationLineSettings();
    c.spoil(bad);
    EXPECT_FALSE(port_->SetCommState(bad)) << c.what;
    EXPECT_EQ(port_->LastError(), kErrorInvalidParameter) << c.what;
    LineSettings back;
    ASSERT_TRUE(port_->GetCommState(back));
    EXPECT_EQ(back, testsupport::StationLineSettings()) << c.what << ": the line was left as it was";
  }
}

TEST_F(PtyPortTest, ModemLinesReadOnUntilTheOtherSideHangsUp) {
  uint32_t status = 0;
  ASSERT_TRUE(port_->GetCommModemStatus(status));
  EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON);
  EXPECT_TRUE(port_->ClearCommError());

  CloseMaster();
  ASSERT_TRUE(port_->GetCommModemStatus(status));
  EXPECT_EQ(status, 0u);

  uint8_t buffer[8];
  size_t got = 0;
  EXPECT_EQ(port_->Read(buffer, sizeof buffer, got, kLongMs), ReadStatus::kFailed);
  EXPECT_EQ(port_->LastError(), kErrorDeviceNotConnected);
}

TEST_F(PtyPortTest, CloseEndsAPendingRead) {
  ReadStatus status = ReadStatus::kData;
  int error = 0;
  std::thread reader([&] {
    uint8_t buffer[64];
    size_t got = 0;
    status = port_->Read(buffer, sizeof buffer, got, kInfinite);
    error = port_->LastError();
  });
  Sleep(20);
  port_->Close();
  reader.join();
  EXPECT_EQ(status, ReadStatus::kFailed);
  EXPECT_EQ(error, kErrorOperationAborted);
}

TEST_F(PtyPortTest, CloseEndsAPendingWrite) {
  // Nobody reads the master side: the write fills the pseudo-terminal's
  // buffers and then waits for room that never comes.
  const std::vector<uint8_t> bytes(1024 * 1024, 0x55);
  std::atomic<bool> returned{false};
  bool result = true;
  int error = 0;
  std::thread writer([&] {
    result = port_->Write(bytes.data(), bytes.size());
    error = port_->LastError();
    returned = true;
  });
  Sleep(50);
  EXPECT_FALSE(returned.load());
  port_->Close();
  writer.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(error, kErrorOperationAborted);
}

TEST_F(PtyPortTest, EveryCallFailsAfterClose) {
  port_->Close();
  port_->Close();  // idempotent
  LineSettings settings = testsupport::StationLineSettings();
  uint32_t status = 0;
  uint8_t buffer[4];
  size_t got = 0;
  struct {
    const char* what;
    bool ok;
  } calls[] = {
      {"GetCommState", port_->GetCommState(settings)},
      {"SetCommState", port_->SetCommState(settings)},
      {"SetCommTimeouts", port_->SetCommTimeouts(CommTimeouts{})},
      {"GetCommModemStatus", port_->GetCommModemStatus(status)},
      {"ClearCommError", port_->ClearCommError()},
      {"Write", port_->Write("x", 1)},
      {"Read", port_->Read(buffer, sizeof buffer, got, 0) != ReadStatus::kFailed},
  };
  for (const auto& c : calls) EXPECT_FALSE(c.ok) << c.what;
  EXPECT_EQ(port_->LastError(), kErrorOperationAborted);
}

TEST_F(PtyPortTest, PortIsOpenedWithoutSharing) {
  int error = 0;
  EXPECT_FALSE(OpenSerialPort("COM42", error));
  EXPECT_EQ(error, kErrorAccessDenied);
  // Closing does not free the device while a thread may still be inside the
  // port; dropping the last holder does.
  port_.reset();
  PortPtr again = OpenSerialPort("COM42", error);
  EXPECT_TRUE(again) << "error " << error;
}

TEST(PosixOpenTest, NamesWithoutADeviceFail) {
  SetPortMap([](const std::string& name) -> std::string {
    if (name == "ZEV1") return "/dev/nonexistent-vantorel-port";
    if (name == "ZEV2") return "/dev/null";
    return "";
  });
  InstallPortOpener(nullptr);
  struct {
    const char* name;
    int error;
  } cases[] = {
      {"ZEV0", kErrorFileNotFound},  // not mapped
      {"ZEV1", kErrorFileNotFound},  // mapped to nothing
      {"ZEV2", kErrorNotSerialDevice},  // not a serial device
  };
  for (const auto& c : cases) {
    int error = 0;
    EXPECT_FALSE(OpenSerialPort(c.name, error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
  SetPortMap(nullptr);
}

}  // namespace
}  // namespace platform

#endif  // !_WIN32
