// The table of failures that mean a port's device has vanished (see
// device_gone.h). Gathered from what Windows' own USB serial driver, the
// adapter makers' drivers and wine's comm layer answer on a handle whose
// device went away.
#include <iterator>

#include "platform/win32/device_gone.h"
#include "platform/win32/windows_api.h"

namespace platform::win32 {
namespace {

const DeviceGoneCode kDeviceGoneCodes[] = {
    {ERROR_DEVICE_NOT_CONNECTED, "ERROR_DEVICE_NOT_CONNECTED",
     "the USB serial driver fails every call on a device that was surprise-removed"},
    {ERROR_DEVICE_REMOVED, "ERROR_DEVICE_REMOVED",
     "the system's answer on a handle whose device node has been removed"},
    {ERROR_BAD_COMMAND, "ERROR_BAD_COMMAND",
     "USB serial drivers refuse the line requests (modem status, line errors, time-outs) once "
     "the device no longer answers"},
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED",
     "on a port that was open, some adapter drivers deny every call after the removal; at open "
     "time it means the port is held by another program, which is not classified here"},
    {ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE",
     "\"a device attached to the system is not functioning\": pending reads and writes of a "
     "device that dropped off the bus end with it"},
    {ERROR_OPERATION_ABORTED, "ERROR_OPERATION_ABORTED",
     "the driver cancels the pending reads and writes of a removed device; only when the "
     "program did not close the port itself (Reset, teardown), which cancels them too"},
    {ERROR_NOT_READY, "ERROR_NOT_READY",
     "wine's comm layer fails every write to a device that has gone"},
    {ERROR_BROKEN_PIPE, "ERROR_BROKEN_PIPE",
     "wine's comm layer fails reads from a device that has gone (its line hung up)"},
};

}  // namespace

const DeviceGoneCode* DeviceGoneCodes(int& count) {
  count = static_cast<int>(std::size(kDeviceGoneCodes));
  return kDeviceGoneCodes;
}

bool IsDeviceGoneCode(uint32_t code, bool closedByReset) {
  if (code == ERROR_OPERATION_ABORTED && closedByReset) return false;
  for (const DeviceGoneCode& entry : kDeviceGoneCodes) {
    if (entry.code == code) return true;
  }
  return false;
}

}  // namespace platform::win32
