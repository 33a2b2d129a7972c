// The receive ring of a port panel: one producer (the receiver thread) and one
// consumer (the thread inside a wait). Positions count over twice the ring's
// size, so write == read means empty and a distance of kSize means full: a full
// ring is never taken for an empty one.
#include "link/ring_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kSpan = 2 * RingBuffer::kSize;

uint32_t Advance(uint32_t position, uint32_t by) { return (position + by) % kSpan; }

uint32_t Distance(uint32_t write, uint32_t read) { return (write + kSpan - read) % kSpan; }

}  // namespace

void RingBuffer::Reset() {
  write_.store(0, std::memory_order_release);
  read_.store(0, std::memory_order_release);
}

unsigned RingBuffer::Count() const {
  return Distance(write_.load(std::memory_order_acquire), read_.load(std::memory_order_acquire));
}

int RingBuffer::GetByte() {
  const uint32_t read = read_.load(std::memory_order_relaxed);
  // Acquire pairs with the producer's release: the byte is in place once the
  // write position says so.
  if (read == write_.load(std::memory_order_acquire)) return -1;
  const int byte = data_[read % kSize];
  read_.store(Advance(read, 1), std::memory_order_release);
  return byte;
}

void RingBuffer::Read(uint8_t* buffer, unsigned& count) {
  const unsigned held = Count();
  if (buffer == nullptr) {
    count = held;
    return;
  }
  const unsigned take = std::min(count, held);
  // Copy in at most two runs (up to the end of the data area, then from its
  // start) and publish the new read position once.
  const uint32_t read = read_.load(std::memory_order_relaxed);
  const size_t offset = read % kSize;
  const size_t first = std::min<size_t>(take, kSize - offset);
  std::memcpy(buffer, data_ + offset, first);
  std::memcpy(buffer + first, data_, take - first);
  read_.store(Advance(read, take), std::memory_order_release);
  count = take;
}

bool RingBuffer::Write(const uint8_t* data, unsigned count) {
  // Only the consumer shrinks the count, so room seen here can only grow
  // before the bytes are stored.
  if (count > kSize - Count()) return false;
  if (count == 0) return true;
  // Copy the block in at most two runs and publish the new write position
  // once: a block is stored whole, and a wait never sees half of it.
  const uint32_t write = write_.load(std::memory_order_relaxed);
  const size_t offset = write % kSize;
  const size_t first = std::min<size_t>(count, kSize - offset);
  std::memcpy(data_ + offset, data, first);
  std::memcpy(data_, data + first, count - first);
  write_.store(Advance(write, count), std::memory_order_release);
  return true;
}
