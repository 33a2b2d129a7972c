// Record checking of the simulated loader.
#include "srecord_check.h"

#include <algorithm>
#include <cstdio>

#include "platform/format.h"

namespace scanner {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A fault of the record on a line: "line <n>: " and the text, whose format
// takes up to two unsigned values.
std::string LineFault(const char* format, int line, unsigned a = 0, unsigned b = 0) {
  return Format("line %d: ", line) + Format(format, a, b);
}

// Bytes of the address field by record type; 0 for a type no image holds.
size_t AddressBytes(char type) {
  switch (type) {
    case '0': case '1': case '9': return 2;
    case '2': case '6': case '8': return 3;
    case '3': case '7': return 4;
    default: return 0;
  }
}

void CheckLine(const std::string& line, int number, SparseMemory& memory, SparseMemory& block,
               SRecordBlock& result) {
  auto fail = [&](const std::string& text) { result.errors.push_back(text); };
  if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9') {
    fail(LineFault("not an S-record", number));
    return;
  }
  const char type = line[1];
  if ((line.size() - 2) % 2 != 0) {
    fail(LineFault("odd number of hexadecimal digits", number));
    return;
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 2; i + 1 < line.size(); i += 2) {
    const int high = HexValue(line[i]);
    const int low = HexValue(line[i + 1]);
    if (high < 0 || low < 0) {
      fail(LineFault("bad hexadecimal digits", number));
      return;
    }
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  if (bytes.empty()) {
    fail(LineFault("no byte count", number));
    return;
  }
  const unsigned byteCount = bytes[0];
  if (byteCount != bytes.size() - 1) {
    fail(LineFault("byte count %u, but %u bytes follow", number, byteCount,
                static_cast<unsigned>(bytes.size() - 1)));
    return;
  }
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
  const unsigned expected = static_cast<uint8_t>(~sum);
  if (bytes.back() != expected) {
    fail(LineFault("checksum %02X, expected %02X", number, bytes.back(), expected));
    return;
  }
  if (result.hasTermination) fail(LineFault("record after the termination record", number));

  // The count record's field is as wide as its byte count says: 2 bytes in
  // the standard form, 4 in the S505 form that framed downloads use.
  size_t addressBytes = AddressBytes(type);
  if (type == '5') addressBytes = byteCount >= 3 ? byteCount - 1 : 0;
  if (addressBytes == 0) {
    fail(LineFault("S%c record has no place in an image", number, static_cast<unsigned>(type - '0')));
    return;
  }
  if (byteCount < addressBytes + 1) {
    fail(LineFault("record too short for its address", number));
    return;
  }
  uint32_t address = 0;
  for (size_t i = 0; i < addressBytes; ++i) address = address << 8 | bytes[1 + i];
  const uint8_t* payload = bytes.data() + 1 + addressBytes;
  const size_t payloadLength = byteCount - 1 - addressBytes;

  switch (type) {
    case '0':
      if (result.hasHeader || result.dataRecords != 0) fail(LineFault("header record out of place", number));
      result.hasHeader = true;
      result.header.clear();
      for (size_t i = 0; i < payloadLength && payload[i] != 0; ++i) {
        result.header.push_back(static_cast<char>(payload[i]));
      }
      break;
    case '1': case '2': case '3': {
      if (block.Write(address, payload, payloadLength) != 0) {
        fail(LineFault("address %08X written twice in this block", number, address));
      }
      result.rewrittenBytes += memory.Write(address, payload, payloadLength);
      ++result.dataRecords;
      result.dataBytes += payloadLength;
      break;
    }
    case '5': case '6':
      result.hasCount = true;
      result.count = address;
      if (address != result.dataRecords) {
        fail(LineFault("count record says %u, block holds %u data records", number, address,
                    static_cast<unsigned>(result.dataRecords)));
      }
      break;
    default:  // 7, 8, 9
      result.hasTermination = true;
      break;
  }
}

}  // namespace

SRecordBlock CheckSRecords(const uint8_t* data, size_t length, SparseMemory& memory) {
  SRecordBlock result;
  SparseMemory block;  // this transfer's own writes, to tell a record sent twice
  int number = 0;
  size_t start = 0;
  while (start < length) {
    size_t end = start;
    while (end < length && data[end] != '\r' && data[end] != '\n') ++end;
    if (end > start) {
      ++number;
      CheckLine(std::string(reinterpret_cast<const char*>(data) + start, end - start), number, memory,
                block, result);
    }
    start = end + 1;
  }
  if (!result.hasHeader) result.errors.push_back("no header record");
  if (!result.hasTermination) result.errors.push_back("no termination record");
  return result;
}

std::string FormatSRecords(const SparseMemory& memory, const std::string& header) {
  std::string out;
  auto record = [&](char type, uint32_t address, size_t addressBytes, const uint8_t* data, size_t n) {
    char text[8];
    const unsigned count = static_cast<unsigned>(addressBytes + n + 1);
    unsigned sum = count;
    out += 'S';
    out += type;
    std::snprintf(text, sizeof text, "%02X", count);
    out += text;
    for (size_t i = addressBytes; i-- > 0;) {
      const unsigned byte = (address >> (8 * i)) & 0xFF;
      sum += byte;
      std::snprintf(text, sizeof text, "%02X", byte);
      out += text;
    }
    for (size_t i = 0; i < n; ++i) {
      sum += data[i];
      std::snprintf(text, sizeof text, "%02X", data[i]);
      out += text;
    }
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(static_cast<uint8_t>(~sum)));
    out += text;
    out += '\n';
  };
  const std::string name = header.substr(0, 60);
  record('0', 0, 2, reinterpret_cast<const uint8_t*>(name.data()), name.size());
  for (const auto& [first, end] : memory.Ranges()) {
    for (uint64_t at = first; at < end; at += 32) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(32, end - at));
      const std::vector<uint8_t> bytes = memory.Read(static_cast<uint32_t>(at), n);
      record('3', static_cast<uint32_t>(at), 4, bytes.data(), n);
    }
  }
  record('7', 0, 4, nullptr, 0);
  return out;
}

}  // namespace scanner
