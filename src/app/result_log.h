// The station's result record: results.csv in the log folder, one line per
// programming run, so that afterwards it is known which scanner got which
// files and whether it succeeded. Lines are only ever appended, each written
// whole and flushed under one lock, so runs ending at once on two ports never
// interleave. Written by the main window when a run reports its outcome, on
// that run's programming thread.
#pragma once

#include <string>
#include <vector>

#include "update/run_record.h"

// The file name in the log folder.
inline constexpr const char* kResultFileName = "results.csv";

// The first line of a new file.
inline constexpr const char* kResultHeader =
    "start,port,family,loader_version,board_version,serial_block,components,result,outcome,"
    "duration_s,station,utc_offset,run_id";

// What places a run among every station's runs, written as the last columns
// of its line (after the ten columns that older files and their readers
// know): the station's name, the local time zone's offset from UTC when the
// run ended ("+01:00"), and the run's id, a random UUID, unique across
// stations and restarts, by which the plant's results database takes each
// run once however often it is sent. Empty fields when not known.
struct RunStamp {
  std::string station;
  std::string utcOffset;
  std::string runId;
};

// A new random (version 4) UUID in lower-case text.
std::string NewRunId();

// The local time zone's offset from UTC now, as "+HH:MM" or "-HH:MM".
std::string UtcOffsetText();

// The family as the record and the summary name it ("MV2", "QZ500", "QZ600";
// empty for none).
std::string FamilyText(ScannerFamily family);

// One field as RFC 4180 has it: quoted when it holds a comma, a quote, CR or
// LF (or starts or ends with a blank), with quotes doubled inside.
std::string CsvField(const std::string& text);

// The fields of one line as RFC 4180 has them: split at commas outside
// quotes, doubled quotes inside quoted fields made single. What CsvField
// wrote comes back unchanged.
std::vector<std::string> CsvFields(const std::string& line);

// The record's line, without its line end.
std::string ResultLine(const RunRecord& record, const RunStamp& stamp = {});

// Appends the record's line to folder/results.csv (the header first when the
// file is new or empty). When the file cannot be opened or written, shows one
// error box captioned with the record's port and returns false; the run is
// not affected.
bool AppendResult(const std::string& folder, const RunRecord& record,
                  const RunStamp& stamp = {});
