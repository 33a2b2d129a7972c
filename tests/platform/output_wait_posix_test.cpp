// The wait of a POSIX port write for its bytes to leave, on a UART modelled in
// virtual time: a driver queue that empties at the line rate while CTS is on.
// Pauses advance the model's clock instead of sleeping, so each case sees
// exactly when the wait returns, whatever the load on the machine.
#include "platform/posix/output_wait.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "platform/serial_port.h"

namespace platform::posix {
namespace {

constexpr uint32_t kCharacterMicros = 174;  // 57600 bits/s, 10 bits per character
constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

class ModelLine : public OutputLine {
 public:
  ModelLine(size_t queued, bool clearToSend) : queued_(queued), cts_(clearToSend) {}

  // CTS turns on or off at the given time (microseconds from the start).
  void CtsAt(uint64_t micros, bool on) { ctsChanges_.emplace_back(micros, on); }
  void CloseAt(uint64_t micros) { closeAt_ = micros; }
  void HangUpAt(uint64_t micros) { hangUpAt_ = micros; }

  bool Read(Sample& sample, int& error) override {
    ++reads_;
    if (now_ >= hangUpAt_) {
      error = kErrorDeviceNotConnected;
      return false;
    }
    sample.queued = queued_;
    sample.clearToSend = cts_;
    return true;
  }

  bool Pause(int ms, int& error) override {
    pauses_.push_back(ms);
    for (uint64_t end = now_ + uint64_t(ms) * 1000; now_ < end;) {
      if (now_ >= closeAt_) {
        error = kErrorOperationAborted;
        return false;
      }
      if (now_ >= hangUpAt_) {
        error = kErrorDeviceNotConnected;
        return false;
      }
      Tick();
    }
    return true;
  }

  uint64_t Now() const { return now_; }
  // When the last byte left the driver (kNever while bytes are queued).
  uint64_t EmptiedAt() const { return emptiedAt_; }
  const std::vector<int>& Pauses() const { return pauses_; }
  int Reads() const { return reads_; }

 private:
  // The microsecond after now_ on the line.
  void Tick() {
    for (const auto& [at, on] : ctsChanges_) {
      if (at == now_) cts_ = on;
    }
    ++now_;
    if (!cts_ || queued_ == 0) return;
    if (++progress_ < kCharacterMicros) return;
    progress_ = 0;
    if (--queued_ == 0) emptiedAt_ = now_;
  }

  uint64_t now_ = 0;
  size_t queued_;
  bool cts_;
  uint32_t progress_ = 0;
  uint64_t emptiedAt_ = kNever;
  uint64_t closeAt_ = kNever;
  uint64_t hangUpAt_ = kNever;
  std::vector<std::pair<uint64_t, bool>> ctsChanges_;
  std::vector<int> pauses_;
  int reads_ = 0;
};

struct FlowingCase {
  const char* name;
  size_t queued;
};

class FlowingLine : public ::testing::TestWithParam<FlowingCase> {};

// With CTS on, the wait returns within a millisecond of the moment the
// driver's queue runs empty: the next block then reaches the driver while the
// UART's FIFO still sends, and the line never idles between blocks.
TEST_P(FlowingLine, ReturnsAsTheLastByteLeaves) {
  ModelLine line(GetParam().queued, /*clearToSend=*/true);
  EXPECT_EQ(WaitUntilSent(line, kCharacterMicros), 0);
  if (GetParam().queued == 0) {
    EXPECT_TRUE(line.Pauses().empty());
    return;
  }
  ASSERT_NE(line.EmptiedAt(), kNever);
  EXPECT_GE(line.Now(), line.EmptiedAt());
  EXPECT_LE(line.Now() - line.EmptiedAt(), 1000u);
  // It sleeps through the transfer rather than looking at the device
  // every millisecond.
  EXPECT_LE(line.Reads(), static_cast<int>(line.EmptiedAt() / (kLongestPauseMs * 1000)) + 3);
}

INSTANTIATE_TEST_SUITE_P(Blocks, FlowingLine,
                         ::testing::Values(FlowingCase{"Nothing", 0}, FlowingCase{"OneKey", 1},
                                           FlowingCase{"WakeUp", 4}, FlowingCase{"Record", 80},
                                           FlowingCase{"FileBlock", 100},
                                           FlowingCase{"FullDriverQueue", 4096}),
                         [](const auto& info) { return std::string(info.param.name); });

// A write made while the scanner is off waits there; once CTS rises the bytes
// go out and the wait ends soon after they have left.
TEST(HeldLine, WaitsUntilCtsLetsTheBytesOut) {
  ModelLine line(4, /*clearToSend=*/false);
  const uint64_t powerOn = 3'000'000;  // three seconds later
  line.CtsAt(powerOn, true);
  EXPECT_EQ(WaitUntilSent(line, kCharacterMicros), 0);
  ASSERT_NE(line.EmptiedAt(), kNever);
  EXPECT_EQ(line.EmptiedAt(), powerOn + 4 * kCharacterMicros);
  // The rise is seen within the longest pause, and a long hold is looked at
  // seldom, not every millisecond.
  EXPECT_LE(line.Now() - line.EmptiedAt(), uint64_t{kLongestPauseMs} * 1000);
  EXPECT_LT(line.Reads(), 3'000 / kLongestPauseMs + 20);
  for (int ms : line.Pauses()) EXPECT_LE(ms, kLongestPauseMs);
}

// CTS holds back only bytes not yet sent. A loader lowers CTS as soon as it
// has the end byte of a transfer, to write flash, and may never raise it
// again when it hangs; the end byte's write must still return as its byte
// leaves the driver, so that the completion time-out starts. Each case drops
// CTS for good at dropAfter microseconds after the last byte left.
struct CtsDropCase {
  const char* name;
  bool ctsOnAtStart;
  size_t queued;
  uint64_t dropAfter;
};

class CtsDropsOnceSent : public ::testing::TestWithParam<CtsDropCase> {};

TEST_P(CtsDropsOnceSent, TheWriteReturnsAsTheQueueEmpties) {
  const CtsDropCase& c = GetParam();
  ModelLine line(c.queued, c.ctsOnAtStart);
  const uint64_t emptied = c.queued * kCharacterMicros;
  line.CtsAt(emptied + c.dropAfter, false);
  // The operator's Reset, long after: a write still held by CTS would end
  // only here.
  line.CloseAt(emptied + 10'000'000);
  EXPECT_EQ(WaitUntilSent(line, kCharacterMicros), 0);
  if (c.queued == 0) {
    // Nothing queued: done at the first look, CTS off or not.
    EXPECT_EQ(line.Reads(), 1);
    EXPECT_TRUE(line.Pauses().empty());
    return;
  }
  ASSERT_EQ(line.EmptiedAt(), emptied);
  // Seen at the next look after the queue ran empty, not at a CTS rise that
  // never comes.
  EXPECT_GE(line.Now(), emptied);
  EXPECT_LE(line.Now() - emptied, 1000u);
}

INSTANTIATE_TEST_SUITE_P(
    EndByte, CtsDropsOnceSent,
    ::testing::Values(
        // Bytes already out of the driver (in the adapter's buffer) are sent
        // as far as the write is concerned, with CTS off.
        CtsDropCase{"EmptyQueueWithCtsOff", false, 0, 0},
        // The end byte leaves and CTS drops in the same microsecond.
        CtsDropCase{"DropAsTheEndByteLeaves", true, 1, 0},
        // The queue drains while CTS is on, and CTS drops before the wait
        // looks again.
        CtsDropCase{"DropBeforeTheNextLook", true, 1, 500},
        CtsDropCase{"BlockThenDropBeforeTheNextLook", true, 80, 50}),
    [](const auto& info) { return std::string(info.param.name); });

// The same drop one microsecond earlier, with the end byte still queued:
// that byte is not sent, so the write stays held until the port is closed.
TEST(HeldLine, CtsDroppedBeforeTheEndByteLeftHoldsItUntilClose) {
  ModelLine line(1, /*clearToSend=*/true);
  line.CtsAt(kCharacterMicros - 1, false);
  line.CloseAt(5'000'000);
  EXPECT_EQ(WaitUntilSent(line, kCharacterMicros), kErrorOperationAborted);
  EXPECT_EQ(line.EmptiedAt(), kNever);
  EXPECT_EQ(line.Now(), 5'000'000u);
}

// The loader holds the line briefly in mid-block (a flash write): the hold is
// noticed quickly, so the block ends little later than the hold itself costs.
TEST(HeldLine, AShortHoldInMidBlockCostsLittleMore) {
  ModelLine line(100, /*clearToSend=*/true);
  line.CtsAt(5'000, false);
  line.CtsAt(15'000, true);
  EXPECT_EQ(WaitUntilSent(line, kCharacterMicros), 0);
  ASSERT_NE(line.EmptiedAt(), kNever);
  EXPECT_EQ(line.EmptiedAt(), 100 * kCharacterMicros + 10'000);
  EXPECT_LE(line.Now() - line.EmptiedAt(), 8'000u);
}

// Reset and teardown close the port: a write held by CTS ends there, at the
// close, and looks at the device no more.
TEST(HeldLine, ACloseEndsTheWait) {
  ModelLine line(4, /*clearToSend=*/false);
  line.CloseAt(2'000'000);
  EXPECT_EQ(WaitUntilSent(line, kCharacterMicros), kErrorOperationAborted);
  EXPECT_EQ(line.Now(), 2'000'000u);
  const int reads = line.Reads();
  EXPECT_EQ(line.Pauses().size(), static_cast<size_t>(reads));
}

// A USB adapter pulled out while the write waits: the wait ends with the
// device gone, at the hang-up.
TEST(HeldLine, AHangUpEndsTheWait) {
  ModelLine line(4, /*clearToSend=*/false);
  line.HangUpAt(1'000'500);
  EXPECT_EQ(WaitUntilSent(line, kCharacterMicros), kErrorDeviceNotConnected);
  EXPECT_EQ(line.Now(), 1'000'500u);
}

// Without a known rate the wait still ends, looking at the queue as it does
// for a held line.
TEST(FlowingLineAtUnknownRate, StillEndsOnceTheQueueIsEmpty) {
  ModelLine line(100, /*clearToSend=*/true);
  EXPECT_EQ(WaitUntilSent(line, 0), 0);
  ASSERT_NE(line.EmptiedAt(), kNever);
  EXPECT_LE(line.Now() - line.EmptiedAt(), uint64_t{kLongestPauseMs} * 1000);
}

}  // namespace
}  // namespace platform::posix
