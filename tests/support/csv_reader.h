// Reads the station's result file as an RFC 4180 reader would: lines ended by
// CR LF, fields split at commas outside quotes, doubled quotes inside quoted
// fields made single. Used by the result-record tests to check what a
// spreadsheet would see.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

inline std::vector<std::string> CsvFields(const std::string& line) {
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

// The lines of a file's text; false when its last line lacks its CR LF.
inline bool CsvLines(const std::string& text, std::vector<std::string>* lines) {
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) return false;
    lines->push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return true;
}

}  // namespace testsupport
