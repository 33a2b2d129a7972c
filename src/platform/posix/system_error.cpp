// The system's description of an error code for the API error box.
//
// Codes reach here in two forms: the Windows codes the link layer tells apart
// (serial_port.h), which this backend reports in place of the errno values of
// the same meaning, and plain errno values for everything else. The
// Windows codes never collide with an errno value in use: the backend maps
// EIO (5) and ENXIO (6) onto codes of their own before they could be taken
// for "access denied" or "invalid handle".
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/message_box.h"
#include "platform/serial_port.h"

namespace platform {
namespace {

// strerror_r comes in two forms: glibc's returns the text, POSIX's fills the
// buffer and returns 0. Overloads pick whichever this C library has.
[[maybe_unused]] const char* StrerrorResult(int rc, const char* buffer) {
  return rc == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* StrerrorResult(const char* text, const char*) { return text; }

std::string ErrnoText(int err) {
  char buffer[256] = {};
  const char* text = StrerrorResult(strerror_r(err, buffer, sizeof buffer), buffer);
  if (text == nullptr || *text == '\0') return "Unknown error " + std::to_string(err);
  return text;
}

}  // namespace

std::string CErrorText(int err) { return ErrnoText(err); }

std::string SystemErrorText(int code) {
  switch (code) {
    case kErrorFileNotFound: return ErrnoText(ENOENT);
    case kErrorAccessDenied: return ErrnoText(EACCES);
    case kErrorInvalidHandle: return ErrnoText(EBADF);
    case kErrorGenFailure: return ErrnoText(EIO);
    case kErrorInvalidParameter: return ErrnoText(EINVAL);
    case kErrorOperationAborted: return ErrnoText(ECANCELED);
    case kErrorIoPending: return ErrnoText(EINPROGRESS);
    case kErrorDeviceNotConnected: return ErrnoText(ENODEV);
    // The program's own code: no system text to borrow.
    case kErrorNotSerialDevice: return "The file is not a serial device";
    default: return ErrnoText(code);
  }
}

}  // namespace platform
