// The computer's name and the local time zone's offset on Windows.
#include "platform/host_info.h"

#include "platform/win32/windows_api.h"

namespace platform {

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "";
  return std::string(name, size);
}

int UtcOffsetMinutes() {
  TIME_ZONE_INFORMATION zone{};
  const DWORD which = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;  // minutes from local time to UTC
  if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  return -static_cast<int>(bias);
}

}  // namespace platform
