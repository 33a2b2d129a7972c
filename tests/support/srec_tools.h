// srec_cat and srec_cmp, the S-record tools the tests make and compare their
// firmware files with, and stand-ins for where they cannot be run (a Windows
// build of the tests). Linux runs keep using the tools themselves, so the
// files the program is tested with do not come from the tests' own code.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vttest {

inline constexpr const char* kNoSrecTools = "srec_cat and srec_cmp cannot be run on this system";

inline bool HaveSrecTools() {
  static const bool have = [] {
    // The output goes to a file: both the POSIX shell and the Windows
    // command interpreter redirect that way, but name the null device apart.
    const std::string sink = ::testing::TempDir() + "vt_srec_tools_probe.txt";
    const std::string command = "srec_cat -version > \"" + sink + "\" 2>&1";
    const bool ok = std::system(command.c_str()) == 0;
    std::remove(sink.c_str());
    return ok;
  }();
  return have;
}

namespace detail {

inline std::string SRecord(char type, uint32_t address, int addressBytes, const uint8_t* data,
                           size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = std::string("S") + type;
  unsigned sum = 0;
  auto put = [&](unsigned byte) {
    sum += byte;
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
  };
  put(static_cast<unsigned>(addressBytes + length + 1));
  for (int i = addressBytes - 1; i >= 0; --i) put((address >> (8 * i)) & 0xFF);
  for (size_t i = 0; i < length; ++i) put(data[i]);
  const unsigned checksum = ~sum & 0xFF;
  text += kHex[checksum >> 4];
  text += kHex[checksum & 0xF];
  return text;
}

}  // namespace detail

// The S-record text of bytes placed at address, as
//   srec_cat BIN -binary -offset ADDRESS -o OUT -motorola -address-length=4
//            -obs=32 -output-block-packing -execution-start-address=0
//            -header HEADER [-crlf]
// writes it: the header record, S3 records of 32 bytes from address on, the
// count record and an S7 record, each line ended by lineEnd.
inline std::string SRecordImage(const std::vector<uint8_t>& bytes, uint32_t address,
                                const std::string& header, const std::string& lineEnd) {
  std::string text = detail::SRecord('0', 0, 2, reinterpret_cast<const uint8_t*>(header.data()),
                                     header.size()) +
                     lineEnd;
  uint32_t records = 0;
  for (size_t at = 0; at < bytes.size(); at += 32) {
    const size_t length = std::min<size_t>(32, bytes.size() - at);
    text += detail::SRecord('3', static_cast<uint32_t>(address + at), 4, bytes.data() + at, length) +
            lineEnd;
    ++records;
  }
  text += (records <= 0xFFFF ? detail::SRecord('5', records, 2, nullptr, 0)
                             : detail::SRecord('6', records, 3, nullptr, 0)) +
          lineEnd;
  text += detail::SRecord('7', 0, 4, nullptr, 0) + lineEnd;
  return text;
}

// The data bytes of an S-record text by address (S1, S2 and S3 records).
inline std::map<uint32_t, uint8_t> SRecordData(const std::string& text) {
  std::map<uint32_t, uint8_t> data;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() < 4 || line[0] != 'S' || line[1] < '1' || line[1] > '3') continue;
    const int addressBytes = line[1] - '0' + 1;
    auto byteAt = [&](size_t index) {
      return static_cast<uint8_t>(std::stoul(line.substr(2 + 2 * index, 2), nullptr, 16));
    };
    const size_t count = byteAt(0);
    if (line.size() < 2 + 2 * (count + 1)) continue;
    uint32_t address = 0;
    for (int i = 0; i < addressBytes; ++i) address = (address << 8) | byteAt(1 + i);
    for (size_t i = 1 + addressBytes; i < count; ++i) data[address++] = byteAt(i);
  }
  return data;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// True when the data of two S-record files is the same (srec_cmp).
inline bool SameSRecordData(const std::string& a, const std::string& b) {
  if (!HaveSrecTools()) return SRecordData(ReadWholeFile(a)) == SRecordData(ReadWholeFile(b));
  const std::string command = "srec_cmp '" + a + "' -motorola '" + b + "' -motorola 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

}  // namespace vttest
