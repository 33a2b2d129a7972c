// The local date and time for the traffic log's run headers.
#include "platform/time.h"

#include "platform/win32/windows_api.h"

namespace platform {

LocalTime GetLocalTime() {
  // The system's own conversion: thread-safe, and it follows the time zone
  // and daylight-saving settings the operator sees on the taskbar clock.
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace platform
