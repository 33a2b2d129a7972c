// The throughput shown while a raw file or a loader image streams to the
// scanner: the rate of the last two blocks' port writes, not of the whole
// transfer, so the status line follows the line's current pace. Used by
// SendFile and SendLoaderImage on the port's programming thread.
#pragma once

#include <cstdint>

class BlockRate {
 public:
  // Takes one block of n bytes whose port write took ms milliseconds and
  // returns the rate to show. While both this and the previous block took
  // under one tick the rate of the block before stays (1 at the start).
  uint32_t Add(uint32_t n, uint32_t ms) {
    if (ms != 0 || previousMs_ != 0) {
      const uint64_t bytes = uint64_t{n} + previousBytes_;
      const uint64_t time = uint64_t{ms} + previousMs_;
      rate_ = static_cast<uint32_t>(bytes * 1000 / time);
    }
    previousMs_ = ms;
    previousBytes_ = n;
    return rate_;
  }

 private:
  uint32_t previousBytes_ = 0;
  uint32_t previousMs_ = 0;
  uint32_t rate_ = 1;
};
