// S-record images for the scanner simulator's tests: whole files made with
// srec_cat from bytes, and single records made here (the loader's special
// block records, the count record of a framed block).
#pragma once

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "srec_tools.h"

namespace simtest {

inline std::string Record(char type, uint32_t address, int addressBytes, const std::vector<uint8_t>& data) {
  char pair[4];
  const unsigned count = static_cast<unsigned>(addressBytes + data.size() + 1);
  unsigned sum = count;
  std::string text = std::string("S") + type;
  std::snprintf(pair, sizeof pair, "%02X", count);
  text += pair;
  for (int i = addressBytes - 1; i >= 0; --i) {
    const unsigned byte = (address >> (8 * i)) & 0xFF;
    sum += byte;
    std::snprintf(pair, sizeof pair, "%02X", byte);
    text += pair;
  }
  for (uint8_t b : data) {
    sum += b;
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(static_cast<uint8_t>(~sum)));
  return text + pair + "\r\n";
}

// The count record a framed block ends with: "S505", eight digits, checksum.
inline std::string CountRecord(uint32_t count) { return Record('5', count, 4, {}); }

// The lines of a text, each with its line end.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line + "\n");
  return lines;
}

// An S-record file of bytes at address made by srec_cat: header record,
// S3 records of 32 bytes, a standard count record and an S7 record.
inline std::string MakeImage(const std::vector<uint8_t>& bytes, uint32_t address, const std::string& header) {
  if (!vttest::HaveSrecTools()) return vttest::SRecordImage(bytes, address, header, "\n");
  // CTest runs tests side by side, each in its own process: the test's name
  // keeps their scratch files apart.
  static int serial = 0;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const std::string base = ::testing::TempDir() + "sim_image_" + name + "_" + std::to_string(++serial);
  {
    std::ofstream bin(base + ".bin", std::ios::binary);
    bin.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  char offset[32];
  std::snprintf(offset, sizeof offset, "0x%X", address);
  const std::string command = "srec_cat '" + base + ".bin' -binary -offset " + offset + " -o '" + base +
                              ".srec' -motorola -address-length=4 -obs=32 -execution-start-address=0 "
                              "-header '" + header + "'";
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << "srec_cat failed: " << command;
    return {};
  }
  std::ifstream in(base + ".srec", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

}  // namespace simtest
