#include "demo_firmware.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace vtdemo {

namespace {

constexpr size_t kBytesPerRecord = 24;

void AppendHex(std::string& text, uint32_t value, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i) text += kHex[(value >> (4 * i)) & 0xF];
}

}  // namespace

bool WriteFile(const std::string& path, const std::string& content, std::string& error) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  file.close();
  if (!file) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

std::string Raw(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string SRecord(char type, uint32_t address, const std::vector<uint8_t>& data) {
  const int addressBytes = type == '0' ? 2 : 4;
  const uint32_t count = static_cast<uint32_t>(addressBytes + data.size() + 1);
  std::string line = "S";
  line += type;
  AppendHex(line, count, 2);
  AppendHex(line, address, addressBytes * 2);
  uint32_t sum = count;
  for (int i = 0; i < addressBytes; ++i) sum += (address >> (8 * i)) & 0xFF;
  for (uint8_t b : data) {
    AppendHex(line, b, 2);
    sum += b;
  }
  AppendHex(line, ~sum & 0xFF, 2);
  line += "\r\n";
  return line;
}

std::string SRecordImage(const std::string& header, uint32_t base,
                         const std::vector<uint8_t>& data) {
  std::string image = SRecord('0', 0, std::vector<uint8_t>(header.begin(), header.end()));
  uint32_t records = 0;
  for (size_t at = 0; at < data.size(); at += kBytesPerRecord) {
    const size_t n = std::min(kBytesPerRecord, data.size() - at);
    image += SRecord('3', base + static_cast<uint32_t>(at),
                     std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(at),
                                          data.begin() + static_cast<std::ptrdiff_t>(at + n)));
    ++records;
  }
  image += SRecord('5', records, {});
  image += SRecord('7', base, {});
  return image;
}

std::vector<uint8_t> SampleBytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> bytes(count);
  uint32_t x = seed ? seed : 1;
  for (uint8_t& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x % 0xFF);  // 0x00..0xFE
  }
  return bytes;
}

bool WriteDemoFiles(const std::string& folder, DemoFiles& out, std::string& error) {
  namespace fs = std::filesystem;
  out = DemoFiles{};
  out.folder = folder;
  auto in = [&](const char* name) { return (fs::path(folder) / name).string(); };

  struct File {
    std::string* path;
    const char* name;
    std::string content;
  };
  // The data images straddle a 64 KB boundary, so a QZ500's RCP and every VTC
  // go in two blocks. The loaders stay below the special block (0xFFC0 on the
  // first generation, 0x1FFC0 on MV2), which the loader update splices in.
  const File files[] = {
      {&out.qz600Rcp, "qz600_rcp.s19",
       SRecordImage("QZ6 RCP demo image", 0x0000FC00, SampleBytes(1536, 11))},
      {&out.qz500Rcp, "qz500_rcp.s19",
       SRecordImage("QZ500 RCP demo image", 0x0000FC00, SampleBytes(1536, 12))},
      {&out.qz6Vtc, "qz6_vtc.s19",
       SRecordImage("VTC demo image", 0x0001FA00, SampleBytes(2048, 13))},
      {&out.qz6Cpld, "qz6_cpld.bin", Raw(SampleBytes(2048, 14))},
      {&out.qz6Dsp, "qz6_dsp.bin", Raw(SampleBytes(1536, 15))},
      {&out.qz6Ldr, "qz6_ldr.s19",
       SRecordImage("First-generation loader demo image", 0x0000F000, SampleBytes(1024, 16))},
      {&out.mv2Rcp, "mv2_rcp.s19",
       SRecordImage("RCPMV2 demo image", 0x0000FC00, SampleBytes(1536, 21))},
      {&out.mv2Vtc, "mv2_vtc.s19",
       SRecordImage("VTC MV2 demo image", 0x0001FA00, SampleBytes(2048, 22))},
      {&out.mv2Fpga, "mv2_fpga.bin", Raw(SampleBytes(3072, 23))},
      {&out.mv2Uim, "mv2_uim.bin", Raw(SampleBytes(1536, 24))},
      {&out.mv2Ldr, "mv2_ldr.s19",
       SRecordImage("MV2 loader demo image", 0x0001E000, SampleBytes(1024, 25))},
      {&out.mv2LdrPre50, "mv2_ldr_pre50.s19",
       SRecordImage("MV2 loader 4.x demo image", 0x0001E000, SampleBytes(1024, 26))},
  };
  for (const File& file : files) {
    *file.path = in(file.name);
    if (!WriteFile(*file.path, file.content, error)) return false;
  }

  std::string ini;
  ini += "[Common]\n";
  ini += "PermitLoaderOverwrite=y\n";
  ini += "PreserveSerialNumber=y\n";
  ini += "LeaveImages=n\n";
  ini += "IncludeSetupMenu=n\n";
  ini += "[QZ6]\n";
  ini += "BaudRate=57600\n";
  ini += "RCP=" + out.qz600Rcp + "\n";
  ini += "LDR=" + out.qz6Ldr + "\n";
  ini += "VTC=" + out.qz6Vtc + "\n";
  ini += "CPLD=" + out.qz6Cpld + "\n";
  ini += "DSP=" + out.qz6Dsp + "\n";
  ini += "[MV2]\n";
  ini += "BaudRate=57600\n";
  ini += "RCP=" + out.mv2Rcp + "\n";
  ini += "LDR_PRE_5_0=" + out.mv2LdrPre50 + "\n";
  ini += "LDR=" + out.mv2Ldr + "\n";
  ini += "VTC=" + out.mv2Vtc + "\n";
  ini += "FPGA=" + out.mv2Fpga + "\n";
  ini += "UIM=" + out.mv2Uim + "\n";
  out.ini = in("ZANDRIC.INI");
  return WriteFile(out.ini, ini, error);
}

}  // namespace vtdemo
