// Facts about the station's computer for the result record: its name (the
// default name of the station in the plant's results database) and the local
// time zone's distance from UTC at this moment (so that a run's local start
// time can be placed on the plant's common clock).
//
// Called by the app layer (app/result_log, app/results_db). Backends: posix/
// (gethostname, localtime_r's tm_gmtoff) and win32/ (GetComputerNameA,
// GetTimeZoneInformation).
#pragma once

#include <string>

namespace platform {

// The computer's name; empty when the system does not tell it.
std::string ComputerName();

// Minutes to add to UTC to get the local time now (+60 for UTC+01:00).
int UtcOffsetMinutes();

}  // namespace platform
