// The computer's name and the local time zone's offset on POSIX systems.
#include "platform/host_info.h"

#include <unistd.h>

#include <ctime>

namespace platform {

std::string ComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

int UtcOffsetMinutes() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return static_cast<int>(parts.tm_gmtoff / 60);
}

}  // namespace platform
