// StepReport: what a firmware engine tells the programming sequence beyond
// its result code, for the run's record: whether the loader declined the
// download (the run may go on, but nothing was written) and the SHA-256 of
// exactly the bytes the transfer sent. The sequence (RunStep) hands one to
// the engine of every step it begins and reads it when the engine returns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StepReport {
  // The loader declined the download (its Image Store question was answered
  // "n"): nothing of the component was written.
  bool declined = false;
  // Lower-case hex SHA-256 of the bytes sent, set once the transfer went out
  // whole: a raw file's copy as streamed, the loader image after the splice,
  // the data bytes of an image's data records (S3) in the order sent, without
  // addresses and whatever 64 KB blocks they went in. Empty otherwise.
  std::string sha256;
  // The special block (serial number and the scanner's own data) the loader
  // engine read to keep across its update; empty when none was read.
  std::vector<uint8_t> specialBlock;
};
