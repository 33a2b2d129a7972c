// Reads the station's result file as an RFC 4180 reader would: lines ended by
// CR LF, and each line's fields by the station's own reader (the one that
// brings pending runs back from the file). Used by the result-record tests to
// check what a spreadsheet would see.
#pragma once

#include <string>
#include <vector>

#include "app/result_log.h"

namespace testsupport {

using ::CsvFields;

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
