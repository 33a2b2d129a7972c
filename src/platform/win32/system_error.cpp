// The descriptions of error codes for boxes and reasons: the system's texts
// for Win32 codes (FormatMessageW), the C library's for errno values.
#include <cstring>
#include <string>

#include "platform/message_box.h"
#include "platform/serial_port.h"
#include "platform/win32/windows_api.h"

namespace platform {

std::string SystemErrorText(int code) {
  // The program's own code: the system has no text for it.
  if (code == kErrorNotSerialDevice) return "The file is not a serial device";
  wchar_t* wide = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&wide), 0, nullptr);
  std::string result;
  if (length > 0 && wide != nullptr) {
    // The program's texts are 8-bit ANSI, shown by the ANSI calls: the
    // system's text is turned into the ANSI code page.
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), nullptr, 0,
                                            nullptr, nullptr);
    if (bytes > 0) {
      result.resize(static_cast<size_t>(bytes));
      ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), result.data(), bytes,
                            nullptr, nullptr);
    }
  }
  if (wide != nullptr) ::LocalFree(wide);
  // The system's texts end in a line break, which would leave an empty line
  // at the foot of the API error box.
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
    result.pop_back();
  }
  if (result.empty()) result = "Unknown error " + std::to_string(code);
  return result;
}

std::string CErrorText(int err) {
  char buffer[256] = {};
  if (::strerror_s(buffer, sizeof buffer, err) != 0 || buffer[0] == '\0') {
    return "Unknown error " + std::to_string(err);
  }
  return buffer;
}

}  // namespace platform
