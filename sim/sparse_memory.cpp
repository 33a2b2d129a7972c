// Sparse memory image of the simulated scanner's flash.
#include "sparse_memory.h"

#include <algorithm>
#include <cstring>

namespace scanner {

size_t SparseMemory::Write(uint32_t address, const uint8_t* data, size_t length) {
  size_t rewritten = 0;
  for (size_t i = 0; i < length; ++i) {
    const uint32_t at = address + static_cast<uint32_t>(i);
    auto [it, inserted] = pages_.try_emplace(at / kPageSize);
    Page& page = it->second;
    if (inserted) {
      std::memset(page.bytes, 0xFF, sizeof page.bytes);
      std::memset(page.present, 0, sizeof page.present);
    }
    const uint32_t offset = at % kPageSize;
    if (page.present[offset]) {
      ++rewritten;
    } else {
      page.present[offset] = true;
      ++size_;
    }
    page.bytes[offset] = data[i];
  }
  return rewritten;
}

bool SparseMemory::Has(uint32_t address) const {
  auto it = pages_.find(address / kPageSize);
  return it != pages_.end() && it->second.present[address % kPageSize];
}

uint8_t SparseMemory::At(uint32_t address) const {
  auto it = pages_.find(address / kPageSize);
  if (it == pages_.end()) return 0xFF;
  return it->second.bytes[address % kPageSize];
}

std::vector<uint8_t> SparseMemory::Read(uint32_t address, size_t length, bool* complete) const {
  std::vector<uint8_t> out(length);
  bool all = true;
  for (size_t i = 0; i < length; ++i) {
    const uint32_t at = address + static_cast<uint32_t>(i);
    out[i] = At(at);
    if (!Has(at)) all = false;
  }
  if (complete) *complete = all;
  return out;
}

std::vector<std::pair<uint64_t, uint64_t>> SparseMemory::Ranges() const {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (const auto& [number, page] : pages_) {
    for (uint32_t offset = 0; offset < kPageSize; ++offset) {
      if (!page.present[offset]) continue;
      const uint64_t at = static_cast<uint64_t>(number) * kPageSize + offset;
      if (!ranges.empty() && ranges.back().second == at) {
        ranges.back().second = at + 1;
      } else {
        ranges.emplace_back(at, at + 1);
      }
    }
  }
  return ranges;
}

void SparseMemory::Clear() {
  pages_.clear();
  size_ = 0;
}

}  // namespace scanner
