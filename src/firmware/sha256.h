// SHA-256 of the bytes sent to a scanner, for the station's result record:
// a fingerprint of exactly what a component's transfer carried, so that a
// record can be matched against the firmware files of a release. Fed piece by
// piece by the update engines as they send; Hex gives the lower-case digest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();
  void Add(const void* data, size_t length);
  // The digest of everything added; the object is spent afterwards.
  std::array<uint8_t, 32> Finish();
  // Finish as 64 lower-case hexadecimal digits.
  std::string Hex();

 private:
  void Compress(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> pending_{};
  size_t pendingBytes_ = 0;
  uint64_t totalBytes_ = 0;
};

// The digest of one piece of memory, in lower-case hexadecimal.
std::string Sha256Hex(const void* data, size_t length);
