// RingBuffer: the 4096-byte receive ring of a port panel. One producer (the
// receiver thread, rcvProc) moves only the write position; one consumer (the
// programming or connect thread, inside the waits) moves only the read
// position. Each position is published with release and read with acquire, so
// the ring needs no lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

class RingBuffer {
 public:
  static constexpr size_t kSize = 4096;

  RingBuffer() { Reset(); }
  // Empties the ring. Only while no receiver stores into it.
  void Reset();
  // Bytes held; kSize for a full ring.
  unsigned Count() const;
  // The next byte 0..255, or -1 when empty.
  int GetByte();
  // With a null buffer: count = Count(), nothing taken. Otherwise takes
  // min(count, Count()) bytes and sets count to the number taken.
  void Read(uint8_t* buffer, unsigned& count);
  // Stores the whole block, or nothing (FALSE) when it does not fit.
  bool Write(const uint8_t* data, unsigned count);

 private:
  // Positions run over 0..2*kSize-1 so that a full ring differs from an empty one.
  std::atomic<uint32_t> write_{0};
  std::atomic<uint32_t> read_{0};
  uint8_t data_[kSize];
};
