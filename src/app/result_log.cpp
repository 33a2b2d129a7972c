#include "app/result_log.h"

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <random>

#include "link/scanner_family.h"
#include "platform/format.h"
#include "platform/host_info.h"
#include "platform/message_box.h"
#include "platform/record_file.h"
#include "platform/path_text.h"

namespace {

// Guards every append to a result file of this process: one line goes out
// whole, header included, before the next run's line.
std::mutex g_resultFileMutex;

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace

std::string FamilyText(ScannerFamily family) {
  const ScannerFamilyRow& row = FamilyRow(family);
  // The row of no family names none; a code no row has stays a number.
  if (row.family == family) return row.name;
  return std::to_string(static_cast<int>(family));
}

std::string CsvField(const std::string& text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string field = "\"";
  for (char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + "\"";
}

std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string NewRunId() {
  // One generator per thread, seeded from the system's entropy: ids made on
  // two ports at once, or by two stations, never share a sequence.
  thread_local std::mt19937_64 generator([] {
    std::random_device entropy;
    return (static_cast<uint64_t>(entropy()) << 32) ^ entropy();
  }());
  uint64_t high = generator();
  uint64_t low = generator();
  high = (high & ~0xF000ull) | 0x4000ull;                   // version 4
  low = (low & ~(0xC0ull << 56)) | (0x80ull << 56);         // RFC 4122 variant
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx",
                static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 48),
                static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
  return text;
}

std::string UtcOffsetText() {
  const int minutes = platform::UtcOffsetMinutes();
  const int magnitude = minutes < 0 ? -minutes : minutes;
  return Format("%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

std::string ResultLine(const RunRecord& r, const RunStamp& stamp) {
  const platform::LocalTime& t = r.start;
  std::string components;
  for (const RunComponent& c : r.components) {
    if (!components.empty()) components += "; ";
    components += c.name + "=" + c.file + " (" + std::to_string(c.size) + " bytes, " +
                  ComponentOutcomeText(c.outcome);
    if (!c.sha256.empty()) components += ", sha256 " + c.sha256;
    components += ")";
  }
  const std::string fields[] = {
      Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second),
      r.port,
      FamilyText(r.family),
      r.loaderVersion == 0 ? std::string()
                           : Format("%d.%d.%d", r.loaderVersion / 10000, r.loaderVersion / 100 % 100,
                                    r.loaderVersion % 100),
      FamilyRow(r.family).secondGeneration && r.boardVersion != 0
          ? Format("%d.%d", r.boardVersion / 10, r.boardVersion % 10)
          : std::string(),
      Hex(r.specialBlock),
      components,
      std::to_string(r.result),
      r.outcome,
      Format("%.1f", r.durationMs / 1000.0),
      stamp.station,
      stamp.utcOffset,
      stamp.runId,
  };
  std::string line;
  for (size_t i = 0; i < std::size(fields); ++i) {
    if (i > 0) line += ',';
    line += CsvField(fields[i]);
  }
  return line;
}

bool AppendResult(const std::string& folder, const RunRecord& record, const RunStamp& stamp) {
  const std::string path = platform::TextFromPath(platform::PathFromText(folder) / kResultFileName);
  const std::string line = ResultLine(record, stamp) + "\r\n";
  std::string reason;
  {
    // The process's lock keeps its ports apart; the file's own lock keeps
    // other processes out.
    std::lock_guard<std::mutex> lock(g_resultFileMutex);
    if (platform::AppendToRecordFile(path, std::string(kResultHeader) + "\r\n", line, reason)) {
      return true;
    }
  }
  // Outside the lock: the box waits for the operator, other ports' lines must not.
  ShowError(record.port.c_str(), "Cannot write the result record " + path + ": " + reason);
  return false;
}
