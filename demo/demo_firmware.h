// Sample firmware for the demonstration station: S-record RCP, VTC and loader
// images and raw CPLD, DSP, FPGA and UIM files for both platforms, generated
// in code, and the ZANDRIC.INI that names them. Small enough that a scanner is
// programmed in seconds at the line rate. Used by the demo (demo.cpp) and its
// tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vtdemo {

// One S-record line ending in CR LF. type is '0', '3', '5' or '7'; the address
// field is 2 bytes for S0 and 4 bytes for S3, S5 and S7 (the count record
// carries its count in four bytes, as the loader's count records do).
std::string SRecord(char type, uint32_t address, const std::vector<uint8_t>& data);

// An image: header record with the text, data records of up to 24 bytes from
// base, the count record and the termination record (entry point base).
std::string SRecordImage(const std::string& header, uint32_t base,
                         const std::vector<uint8_t>& data);

// Reproducible filler bytes for a firmware file. They hold no 0xFF, so a raw
// transfer's data never looks like its end byte.
std::vector<uint8_t> SampleBytes(size_t count, uint32_t seed);

// Writes content to path whole; false with "cannot write <path>" in error.
bool WriteFile(const std::string& path, const std::string& content, std::string& error);
// The bytes as they stand in a raw firmware file.
std::string Raw(const std::vector<uint8_t>& bytes);

// The generated files of one demo station folder.
struct DemoFiles {
  std::string folder;
  std::string qz600Rcp, qz500Rcp, qz6Vtc, qz6Cpld, qz6Dsp, qz6Ldr;
  std::string mv2Rcp, mv2Vtc, mv2Fpga, mv2Uim, mv2Ldr, mv2LdrPre50;
  std::string ini;  // the ZANDRIC.INI
};

// Writes every file and ZANDRIC.INI into folder (which must exist). The INI
// names the QZ600 RCP image for the first generation; the QZ500 image is the
// one an operator selects for a QZ500. False with a reason when a write fails.
bool WriteDemoFiles(const std::string& folder, DemoFiles& out, std::string& error);

}  // namespace vtdemo
