// The memory image the simulated scanner builds from the S-records it
// receives: a sparse 32-bit address space that remembers which bytes were
// written, so a test can compare what reached the scanner's flash with the
// firmware, byte for byte, and see gaps. Used by the loader simulator and its
// record checker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace scanner {

class SparseMemory {
 public:
  // Stores length bytes from address on (addresses wrap at 2^32). Returns
  // how many of them had been written before.
  size_t Write(uint32_t address, const uint8_t* data, size_t length);

  bool Has(uint32_t address) const;
  // The byte at address; 0xFF (erased flash) where nothing was written.
  uint8_t At(uint32_t address) const;
  // length bytes from address, 0xFF where nothing was written; complete
  // (when given) tells whether every one of them was written.
  std::vector<uint8_t> Read(uint32_t address, size_t length, bool* complete = nullptr) const;

  // Number of bytes written (each address counted once).
  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  // The written ranges as [first, end) pairs, ascending, adjacent ranges joined.
  std::vector<std::pair<uint64_t, uint64_t>> Ranges() const;
  void Clear();

 private:
  static constexpr uint32_t kPageSize = 4096;
  struct Page {
    uint8_t bytes[kPageSize];
    bool present[kPageSize];
  };
  std::map<uint32_t, Page> pages_;  // by page number
  size_t size_ = 0;
};

}  // namespace scanner
