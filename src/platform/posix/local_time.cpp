// The local date and time for the traffic log's run headers.
#include <ctime>

#include "platform/time.h"

namespace platform {

LocalTime GetLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  // localtime_r, not std::localtime: several ports write their log headers
  // from their own threads, and std::localtime returns a shared buffer.
  localtime_r(&now, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

}  // namespace platform
