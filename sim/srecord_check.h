// The simulated loader's reading of an S-record transfer: every record's
// syntax, byte count and checksum are checked, data records (S1, S2, S3) are
// written into the scanner's memory image, and a count record is checked
// against the number of data records before it in the same transfer (one
// block of a download). Also writes a memory image back out as S-records, so
// a test or the pseudo-terminal tool can compare it with a firmware file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sparse_memory.h"

namespace scanner {

// What the loader found in one transfer.
struct SRecordBlock {
  bool hasHeader = false;
  std::string header;          // the header record's data as text, up to its first zero byte
  size_t dataRecords = 0;      // data records accepted (good checksum) and written
  size_t dataBytes = 0;
  bool hasCount = false;
  uint32_t count = 0;          // the value of the last count record
  bool hasTermination = false;
  size_t rewrittenBytes = 0;   // bytes written over data already in memory
  std::vector<std::string> errors;  // "line 7: checksum 3A, expected 3B", ...
};

// Checks the records of data[0..length) (lines end in any run of CR and LF)
// and writes the data of every sound data record into memory. A record with
// a fault is reported and its data is not written.
SRecordBlock CheckSRecords(const uint8_t* data, size_t length, SparseMemory& memory);

// The memory image as an S-record file: a header record with header, S3
// records of up to 32 bytes for every written range, and an S7 record; lines
// end in LF.
std::string FormatSRecords(const SparseMemory& memory, const std::string& header);

}  // namespace scanner
