#include "platform/sim/sim_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "platform/event.h"
#include "platform/time.h"

namespace platform::sim {
namespace {

constexpr uint32_t kLong = 10000;  // real ms: only reached when something is broken

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Reads from the near end until count bytes came or a read ends without data.
std::vector<uint8_t> NearReadAll(SerialPort& port, size_t count) {
  std::vector<uint8_t> all;
  uint8_t buffer[4096];
  while (all.size() < count) {
    size_t got = 0;
    if (port.Read(buffer, sizeof buffer, got, kLong) != ReadStatus::kData) break;
    all.insert(all.end(), buffer, buffer + got);
  }
  return all;
}

std::vector<uint8_t> FarReadAll(SimLine& line, size_t count) {
  std::vector<uint8_t> all;
  uint8_t buffer[4096];
  while (all.size() < count) {
    const size_t got = line.FarRead(buffer, sizeof buffer, kLong);
    if (got == 0) break;
    all.insert(all.end(), buffer, buffer + got);
  }
  return all;
}

class SimLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    line_ = SimLine::Create();
    line_->SetPower(true);
    int error = -1;
    port_ = line_->OpenNear(error);
    ASSERT_TRUE(port_);
    EXPECT_EQ(error, 0);
  }

  std::shared_ptr<SimLine> line_;
  PortPtr port_;
};

// A fault placed at a byte of the program's output strikes exactly there,
// however far ahead the program writes.
TEST_F(SimLineTest, CutStrikesAtTheExactByte) {
  ASSERT_TRUE(port_->Write("ab", 2));
  uint32_t before = 0;
  ASSERT_TRUE(port_->GetDsrChangeCount(before));

  line_->CutAtNearByte(5, true);  // the third byte of the next write
  EXPECT_FALSE(port_->Write("cdefg", 5));
  EXPECT_EQ(port_->LastError(), kErrorDeviceNotConnected);
  EXPECT_EQ(line_->FarReceivedAll(), Bytes("abcde"));
  EXPECT_FALSE(line_->IsPluggedIn());
}

TEST_F(SimLineTest, PowerCutHoldsTheRestAndCountsTheDsrChange) {
  uint32_t before = 0;
  ASSERT_TRUE(port_->GetDsrChangeCount(before));
  line_->CutAtNearByte(3, false);
  std::thread writer([&] { EXPECT_TRUE(port_->Write("abcdef", 6)); });
  // The bytes up to the cut went out; the rest waits for CTS.
  EXPECT_EQ(FarReadAll(*line_, 3), Bytes("abc"));
  uint32_t status = 0xFF;
  ASSERT_TRUE(port_->GetCommModemStatus(status));
  EXPECT_EQ(status, 0u);
  line_->SetPower(true);
  writer.join();
  EXPECT_EQ(FarReadAll(*line_, 3), Bytes("def"));
  uint32_t after = 0;
  ASSERT_TRUE(port_->GetDsrChangeCount(after));
  EXPECT_EQ(after - before, 2u);  // down and up again
}

TEST_F(SimLineTest, BytesTravelBothWaysInOrder) {
  ASSERT_TRUE(port_->Write("****", 4));
  ASSERT_TRUE(port_->Write("\xFF", 1));
  EXPECT_EQ(FarReadAll(*line_, 5), Bytes("****\xFF"));
  EXPECT_EQ(line_->FarReceivedAll(), Bytes("****\xFF"));
  EXPECT_EQ(line_->FarReceivedCount(), 5u);

  ASSERT_TRUE(line_->FarWrite("QZ600 Loader "));
  ASSERT_TRUE(line_->FarWrite("Build"));
  EXPECT_EQ(NearReadAll(*port_, 18), Bytes("QZ600 Loader Build"));
}

TEST_F(SimLineTest, ReadGathersWhatArrivedAndRespectsCapacity) {
  ASSERT_TRUE(line_->FarWrite("abc"));
  ASSERT_TRUE(line_->FarWrite("def"));
  char buffer[4] = {};
  size_t got = 0;
  ASSERT_EQ(port_->Read(buffer, 4, got, kLong), ReadStatus::kData);
  EXPECT_EQ(std::string(buffer, got), "abcd");
  ASSERT_EQ(port_->Read(buffer, 4, got, kLong), ReadStatus::kData);
  EXPECT_EQ(std::string(buffer, got), "ef");
}

TEST_F(SimLineTest, ReadTimesOutOnASilentLine) {
  char buffer[8];
  size_t got = 99;
  EXPECT_EQ(port_->Read(buffer, sizeof buffer, got, 5), ReadStatus::kTimeout);
  EXPECT_EQ(got, 0u);
}

TEST_F(SimLineTest, PacedTransferKeepsEveryByteInOrder) {
  line_->SetPacing(57600);
  std::vector<uint8_t> block(300);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  std::thread far([&] { EXPECT_TRUE(line_->FarWrite(block.data(), block.size())); });
  ASSERT_TRUE(port_->Write(block.data(), block.size()));
  EXPECT_EQ(FarReadAll(*line_, block.size()), block);
  EXPECT_EQ(NearReadAll(*port_, block.size()), block);
  far.join();
}

TEST_F(SimLineTest, ModemStatusFollowsTheFarEnd) {
  struct {
    bool cts, dsr;
    uint32_t expected;
  } cases[] = {{false, false, 0},
               {true, false, MS_CTS_ON},
               {false, true, MS_DSR_ON},
               {true, true, MS_CTS_ON | MS_DSR_ON}};
  for (const auto& c : cases) {
    line_->SetCts(c.cts);
    line_->SetDsr(c.dsr);
    uint32_t status = 0xFFFF;
    ASSERT_TRUE(port_->GetCommModemStatus(status));
    EXPECT_EQ(status, c.expected);
  }
  for (bool on : {false, true}) {
    line_->SetPower(on);
    uint32_t status = 0xFFFF;
    ASSERT_TRUE(port_->GetCommModemStatus(status));
    EXPECT_EQ(status, on ? MS_CTS_ON | MS_DSR_ON : 0u);
  }
}

TEST_F(SimLineTest, WriteIsHeldWhileCtsIsLowAndReleasedWhenItRises) {
  line_->SetCts(false);
  std::atomic<bool> returned{false};
  bool result = false;
  std::thread writer([&] {
    result = port_->Write("*", 1);
    returned = true;
  });
  Sleep(30);
  EXPECT_FALSE(returned.load());
  EXPECT_EQ(line_->FarReceivedCount(), 0u);
  line_->SetCts(true);
  writer.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(line_->FarReceivedAll(), Bytes("*"));
}

TEST_F(SimLineTest, CtsDroppingInAPacedWriteHoldsTheRestUntilItRises) {
  // About three seconds on the wire: the scanner lowers CTS long before its end.
  line_->SetPacing(57600);
  std::vector<uint8_t> block(20000);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 13 + i / 256);
  std::atomic<bool> returned{false};
  bool result = false;
  std::thread writer([&] {
    result = port_->Write(block.data(), block.size());
    returned = true;
  });
  for (int i = 0; i < 5000 && line_->FarReceivedCount() == 0; ++i) Sleep(2);
  line_->SetCts(false);
  const size_t atDrop = line_->FarReceivedCount();
  EXPECT_GT(atDrop, 0u);
  EXPECT_LT(atDrop, block.size()) << "the write ended before CTS dropped";
  Sleep(50);
  EXPECT_EQ(line_->FarReceivedCount(), atDrop) << "bytes left while CTS was low";
  EXPECT_FALSE(returned.load());
  line_->SetCts(true);
  writer.join();
  EXPECT_TRUE(result);
  // Nothing lost, nothing sent twice, all in order.
  EXPECT_EQ(line_->FarReceivedAll(), block);
  EXPECT_EQ(FarReadAll(*line_, block.size()), block);
}

TEST_F(SimLineTest, MonitorSeesBothDirectionsNoEarlierThanTheyWereSent) {
  line_->SetPacing(57600);
  std::mutex mutex;
  std::string toFar, toNear;
  std::vector<std::chrono::steady_clock::time_point> times;
  line_->SetMonitor([&](SimLine::Direction d, const uint8_t* bytes, size_t n,
                        std::chrono::steady_clock::time_point when) {
    std::lock_guard<std::mutex> lock(mutex);
    (d == SimLine::Direction::kToFar ? toFar : toNear).append(reinterpret_cast<const char*>(bytes), n);
    times.push_back(when);
  });
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(port_->Write("1", 1));
  const auto keyWritten = std::chrono::steady_clock::now();
  ASSERT_TRUE(line_->FarWrite("waiting to receive, send the records"));
  ASSERT_TRUE(port_->Write("S0 records", 10));
  EXPECT_EQ(FarReadAll(*line_, 11), Bytes("1S0 records"));
  line_->SetMonitor({});
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(toFar, "1S0 records");
  EXPECT_EQ(toNear, "waiting to receive, send the records");
  ASSERT_FALSE(times.empty());
  // The key is timed when it was written, not when the idle wire could
  // first have taken it; every later chunk follows in time.
  EXPECT_GE(times.front(), before);
  EXPECT_LE(times.front(), keyWritten);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
}

struct EndCase {
  const char* what;
  void (*end)(SimLine& line, SerialPort& port);
  int error;
};

const EndCase kEndCases[] = {
    {"close", [](SimLine&, SerialPort& port) { port.Close(); }, kErrorOperationAborted},
    {"unplug", [](SimLine& line, SerialPort&) { line.Unplug(); }, kErrorDeviceNotConnected},
};

TEST_F(SimLineTest, HeldWriteFailsWhenThePortEnds) {
  for (const EndCase& c : kEndCases) {
    SetUp();
    line_->SetCts(false);
    bool result = true;
    int error = 0;
    std::thread writer([&] {
      result = port_->Write("****", 4);
      error = port_->LastError();
    });
    Sleep(10);
    c.end(*line_, *port_);
    writer.join();
    EXPECT_FALSE(result) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_EQ(line_->FarReceivedCount(), 0u) << c.what;
  }
}

TEST_F(SimLineTest, PendingReadFailsWhenThePortEnds) {
  for (const EndCase& c : kEndCases) {
    SetUp();
    ReadStatus status = ReadStatus::kData;
    int error = 0;
    std::thread reader([&] {
      char buffer[16];
      size_t got = 0;
      status = port_->Read(buffer, sizeof buffer, got, kInfinite);
      error = port_->LastError();
    });
    Sleep(10);
    c.end(*line_, *port_);
    reader.join();
    EXPECT_EQ(status, ReadStatus::kFailed) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
}

TEST_F(SimLineTest, EveryCallFailsOnAnEndedPort) {
  for (const EndCase& c : kEndCases) {
    SetUp();
    c.end(*line_, *port_);
    LineSettings settings;
    uint32_t status = 0;
    char buffer[4];
    size_t got = 0;
    EXPECT_FALSE(port_->GetCommState(settings)) << c.what;
    EXPECT_EQ(port_->LastError(), c.error) << c.what;
    EXPECT_FALSE(port_->SetCommState(settings)) << c.what;
    EXPECT_FALSE(port_->SetCommTimeouts(CommTimeouts{})) << c.what;
    EXPECT_FALSE(port_->GetCommModemStatus(status)) << c.what;
    EXPECT_EQ(port_->LastError(), c.error) << c.what;
    EXPECT_FALSE(port_->ClearCommError()) << c.what;
    EXPECT_FALSE(port_->Write("x", 1)) << c.what;
    EXPECT_EQ(port_->Read(buffer, sizeof buffer, got, 0), ReadStatus::kFailed) << c.what;
    EXPECT_EQ(port_->LastError(), c.error) << c.what;
    port_->Close();  // idempotent
  }
}

TEST_F(SimLineTest, PortsAreOpenedWithoutSharing) {
  int error = 0;
  EXPECT_FALSE(line_->OpenNear(error));
  EXPECT_EQ(error, kErrorAccessDenied);
  port_->Close();
  EXPECT_FALSE(line_->IsNearOpen());
  PortPtr again = line_->OpenNear(error);
  ASSERT_TRUE(again);
  // The old object stays closed even though the line is open again.
  EXPECT_FALSE(port_->Write("x", 1));
  EXPECT_TRUE(again->Write("y", 1));
  EXPECT_EQ(line_->FarReceivedAll(), Bytes("y"));
}

TEST_F(SimLineTest, DroppingThePortClosesIt) {
  port_.reset();
  EXPECT_FALSE(line_->IsNearOpen());
  int error = 0;
  EXPECT_TRUE(line_->OpenNear(error));
}

TEST_F(SimLineTest, UnpluggedLineCannotBeOpenedUntilReplugged) {
  line_->Unplug();
  EXPECT_FALSE(line_->IsPluggedIn());
  EXPECT_FALSE(line_->IsNearOpen());
  EXPECT_FALSE(line_->FarWrite("lost"));
  int error = 0;
  EXPECT_FALSE(line_->OpenNear(error));
  EXPECT_EQ(error, kErrorFileNotFound);

  line_->Replug();
  PortPtr fresh = line_->OpenNear(error);
  ASSERT_TRUE(fresh);
  uint32_t status = 0;
  EXPECT_FALSE(port_->GetCommModemStatus(status));  // the old handle stays dead
  EXPECT_EQ(port_->LastError(), kErrorDeviceNotConnected);
  EXPECT_TRUE(fresh->GetCommModemStatus(status));
}

TEST_F(SimLineTest, BytesSentWhileTheNearEndIsClosedAreLost) {
  port_->Close();
  EXPECT_FALSE(line_->FarWrite("lost"));
  int error = 0;
  PortPtr again = line_->OpenNear(error);
  ASSERT_TRUE(again);
  ASSERT_TRUE(line_->FarWrite("kept"));
  EXPECT_EQ(NearReadAll(*again, 4), Bytes("kept"));
}

TEST_F(SimLineTest, FarReadReturnsNothingOnTimeOutOrUnplug) {
  char buffer[8];
  EXPECT_EQ(line_->FarRead(buffer, sizeof buffer, 5), 0u);
  std::thread unplugger([&] { line_->Unplug(); });
  EXPECT_EQ(line_->FarRead(buffer, sizeof buffer, kInfinite), 0u);
  unplugger.join();
}

TEST_F(SimLineTest, LineSettingsAndTimeOutsAreKept) {
  LineSettings fresh;
  ASSERT_TRUE(port_->GetCommState(fresh));
  EXPECT_EQ(fresh.DCBlength, 28u);
  EXPECT_EQ(fresh.BaudRate, 9600u);
  EXPECT_EQ(fresh.ByteSize, 8);
  EXPECT_EQ(line_->NearTimeouts().ReadIntervalTimeout, 1u);

  LineSettings fixed{};
  fixed.DCBlength = 28;
  fixed.BaudRate = 57600;
  fixed.fBinary = 1;
  fixed.fOutxCtsFlow = 1;
  fixed.fDtrControl = DTR_CONTROL_ENABLE;
  fixed.fRtsControl = RTS_CONTROL_HANDSHAKE;
  fixed.ByteSize = 8;
  ASSERT_TRUE(port_->SetCommState(fixed));
  LineSettings back;
  ASSERT_TRUE(port_->GetCommState(back));
  EXPECT_EQ(back, fixed);
  EXPECT_EQ(line_->NearSettings(), fixed);

  CommTimeouts timeouts{};
  timeouts.ReadIntervalTimeout = 5;
  ASSERT_TRUE(port_->SetCommTimeouts(timeouts));
  EXPECT_EQ(line_->NearTimeouts().ReadIntervalTimeout, 5u);
}

TEST_F(SimLineTest, SettingsNoDriverAcceptsAreRefused) {
  LineSettings good{};
  good.BaudRate = 57600;
  good.ByteSize = 8;
  struct {
    const char* what;
    void (*spoil)(LineSettings&);
  } cases[] = {
      {"no rate", [](LineSettings& s) { s.BaudRate = 0; }},
      {"4 data bits", [](LineSettings& s) { s.ByteSize = 4; }},
      {"9 data bits", [](LineSettings& s) { s.ByteSize = 9; }},
      {"parity 5", [](LineSettings& s) { s.Parity = 5; }},
      {"stop bits 3", [](LineSettings& s) { s.StopBits = 3; }},
  };
  for (const auto& c : cases) {
    LineSettings bad = good;
    c.spoil(bad);
    EXPECT_FALSE(port_->SetCommState(bad)) << c.what;
    EXPECT_EQ(port_->LastError(), kErrorInvalidParameter) << c.what;
  }
  EXPECT_TRUE(port_->SetCommState(good));
}

TEST(SimPortRegistryTest, OpenerServesRegisteredNamesWhateverTheirSpelling) {
  auto& registry = SimPortRegistry::Instance();
  registry.Clear();
  auto com3 = SimLine::Create();
  auto zev0 = SimLine::Create();
  registry.Add("com3", com3);
  registry.Add("ZEV0", zev0);
  EXPECT_EQ(registry.Names(), (std::vector<std::string>{"COM3", "ZEV0"}));
  EXPECT_EQ(registry.Find("\\\\.\\COM3"), com3);
  registry.InstallAsOpener();

  int error = 0;
  PortPtr port = OpenSerialPort("\\\\.\\COM3", error);
  ASSERT_TRUE(port);
  EXPECT_TRUE(com3->IsNearOpen());
  EXPECT_FALSE(OpenSerialPort("COM3", error));
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_TRUE(OpenSerialPort("zev0", error));
  EXPECT_FALSE(OpenSerialPort("COM4", error));
  EXPECT_EQ(error, kErrorFileNotFound);

  registry.Remove("COM3");
  EXPECT_EQ(registry.Find("COM3"), nullptr);
  registry.Clear();
  EXPECT_TRUE(registry.Names().empty());
  InstallPortOpener(nullptr);
}

}  // namespace
}  // namespace platform::sim

namespace platform::sim {
namespace {

// What reached the port and what its reader has finished with: a byte counts
// as pending from its arrival until the reader notes it handled, whether it
// is still queued or already in the reader's hands.
TEST(SimLineInputTest, PendingCountsEveryByteUntilTheReaderHandledIt) {
  auto line = SimLine::Create();
  int error = -1;
  PortPtr port = line->OpenNear(error);
  ASSERT_TRUE(port);
  uint64_t pending = 99;
  ASSERT_TRUE(port->GetInputPending(pending));
  EXPECT_EQ(pending, 0u);

  ASSERT_TRUE(line->FarWrite("0123456789"));
  ASSERT_TRUE(port->GetInputPending(pending));
  EXPECT_EQ(pending, 10u);

  uint8_t buffer[4];
  size_t got = 0;
  ASSERT_EQ(port->Read(buffer, sizeof buffer, got, 1000), ReadStatus::kData);
  ASSERT_EQ(got, 4u);
  ASSERT_TRUE(port->GetInputPending(pending));
  EXPECT_EQ(pending, 10u) << "read but not yet handled";
  port->NoteInputHandled(got);
  ASSERT_TRUE(port->GetInputPending(pending));
  EXPECT_EQ(pending, 6u);

  port->Close();
  EXPECT_FALSE(port->GetInputPending(pending));
}

// An adapter's packets: every byte arrives, in order, whatever the sizes of
// the packets and the pauses between them.
TEST(SimLineInputTest, PacketsDeliverEveryByteInOrder) {
  auto line = SimLine::Create();
  int error = -1;
  PortPtr port = line->OpenNear(error);
  ASSERT_TRUE(port);
  CommTimeouts timeouts;
  timeouts.ReadIntervalTimeout = kInfinite;  // hand out what has arrived at once
  ASSERT_TRUE(port->SetCommTimeouts(timeouts));
  line->SetPacketizing(3, 7, 200, 42);
  std::string text;
  for (int i = 0; i < 40; ++i) text += static_cast<char>('A' + i % 26);
  std::thread writer([&] { line->FarWrite(text); });
  std::string received;
  uint8_t buffer[64];
  while (received.size() < text.size()) {
    size_t got = 0;
    if (port->Read(buffer, sizeof buffer, got, kLong) != ReadStatus::kData) break;
    received.append(reinterpret_cast<char*>(buffer), got);
  }
  writer.join();
  EXPECT_EQ(received, text);
}

}  // namespace
}  // namespace platform::sim
