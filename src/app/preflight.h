// The pre-flight check of a station: before a shift, every firmware file that
// ZANDRIC.INI names is read the way a run would read it, so that a missing,
// unreadable, truncated or corrupt file, an image without its count record or
// an RCP image built for another family shows up before a scanner is on the
// line, with the texts a run would show in its boxes. Called by vantorel-cli
// (--check, --check-image) on its main thread; it never opens a port.
#pragma once

#include <string>
#include <vector>

struct CheckReport {
  // The report in order: a heading per file ("[QZ6] RCP = <path>"), its
  // facts indented by two blanks, and every problem as "<file>:<line>: <text>"
  // (the line of the file, or of ZANDRIC.INI for a setting), one line each.
  std::vector<std::string> lines;
  int files = 0;     // files examined
  int problems = 0;  // problem lines in the report
};

// Checks every firmware setting of ZANDRIC.INI in appDir, loaded the way the
// station loads it (a missing file's "File %s not found" is a problem there).
// Like the station's start, it creates a missing log folder.
CheckReport CheckStation(const std::string& appDir);

// Checks one S-record image file as the RCP and VTC downloads and the loader
// splice would read it.
CheckReport CheckImageFile(const std::string& path);
