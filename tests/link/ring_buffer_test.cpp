#include "link/ring_buffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

TEST(RingBuffer, FullRingRefusesEveryBlockUntilOneByteIsTaken) {
  RingBuffer ring;
  const std::vector<uint8_t> all = Bytes(RingBuffer::kSize);
  ASSERT_TRUE(ring.Write(all.data(), static_cast<unsigned>(all.size())));
  EXPECT_EQ(ring.Count(), RingBuffer::kSize);

  const uint8_t one = 0xAB;
  EXPECT_FALSE(ring.Write(&one, 1));
  EXPECT_EQ(ring.Count(), RingBuffer::kSize);

  EXPECT_EQ(ring.GetByte(), 0);
  EXPECT_TRUE(ring.Write(&one, 1));
  EXPECT_EQ(ring.Count(), RingBuffer::kSize);
  EXPECT_FALSE(ring.Write(&one, 1));
}

TEST(RingBuffer, BlockIsStoredWholeOrNotAtAll) {
  struct Case {
    unsigned held;
    unsigned block;
    bool stored;
  };
  const Case cases[] = {
      {0, 4096, true},    {0, 4097, false},  {100, 3996, true},
      {100, 3997, false}, {4000, 96, true},  {4000, 97, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "held " << c.held << " block " << c.block);
    RingBuffer ring;
    const std::vector<uint8_t> first = Bytes(c.held);
    ASSERT_TRUE(ring.Write(first.data(), c.held));
    const std::vector<uint8_t> block = Bytes(c.block, 7);
    EXPECT_EQ(ring.Write(block.data(), c.block), c.stored);
    EXPECT_EQ(ring.Count(), c.stored ? c.held + c.block : c.held);
  }
}

TEST(RingBuffer, EmptyRingAndCountOnlyRead) {
  RingBuffer ring;
  EXPECT_EQ(ring.GetByte(), -1);
  unsigned count = 99;
  ring.Read(nullptr, count);
  EXPECT_EQ(count, 0u);

  const uint8_t data[] = {1, 2, 3};
  ASSERT_TRUE(ring.Write(data, 3));
  count = 0;
  ring.Read(nullptr, count);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(ring.Count(), 3u) << "a count-only read takes nothing";

  uint8_t out[8] = {};
  count = sizeof out;
  ring.Read(out, count);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(out[2], 3);
  EXPECT_EQ(ring.GetByte(), -1);
}

TEST(RingBuffer, KeepsOrderAcrossTheWrap) {
  RingBuffer ring;
  uint8_t next = 0;
  uint8_t expected = 0;
  // Blocks of a size prime to the ring's, so every offset is crossed.
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> block(1000);
    for (uint8_t& b : block) b = next++;
    ASSERT_TRUE(ring.Write(block.data(), 1000));
    std::vector<uint8_t> out(700);
    unsigned count = 700;
    ring.Read(out.data(), count);
    ASSERT_EQ(count, 700u);
    for (uint8_t b : out) ASSERT_EQ(b, expected++);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(ring.GetByte(), expected++);
  }
  EXPECT_EQ(ring.Count(), 0u);
}

TEST(RingBuffer, ResetEmptiesIt) {
  RingBuffer ring;
  const std::vector<uint8_t> some = Bytes(4096);
  ASSERT_TRUE(ring.Write(some.data(), 4096));
  ring.Reset();
  EXPECT_EQ(ring.Count(), 0u);
  EXPECT_EQ(ring.GetByte(), -1);
}

// One producer and one consumer on two threads, as the receiver and a wait:
// every byte arrives once and in order.
TEST(RingBuffer, OneProducerOneConsumerLoseNothing) {
  RingBuffer ring;
  constexpr unsigned kTotal = 1 << 20;
  std::thread producer([&] {
    unsigned sent = 0;
    uint8_t block[333];
    while (sent < kTotal) {
      const unsigned n = std::min<unsigned>(sizeof block, kTotal - sent);
      for (unsigned i = 0; i < n; ++i) block[i] = static_cast<uint8_t>((sent + i) * 7);
      while (!ring.Write(block, n)) std::this_thread::yield();
      sent += n;
    }
  });
  unsigned received = 0;
  unsigned wrong = 0;
  uint8_t out[500];
  while (received < kTotal) {
    unsigned count = sizeof out;
    ring.Read(out, count);
    for (unsigned i = 0; i < count; ++i) {
      if (out[i] != static_cast<uint8_t>((received + i) * 7)) ++wrong;
    }
    received += count;
    if (count == 0) std::this_thread::yield();
  }
  producer.join();
  EXPECT_EQ(wrong, 0u);
}

}  // namespace
