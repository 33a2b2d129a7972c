// The system's description of an error code for the API error box.
#include <string>

#include "platform/message_box.h"
#include "platform/serial_port.h"
#include "platform/win32/windows_api.h"

namespace platform {

std::string SystemErrorText(int code) {
  // The program's own code: the system has no text for it.
  if (code == kErrorNotSerialDevice) return "The file is not a serial device";
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = (length > 0 && text != nullptr) ? std::string(text, length) : std::string();
  if (text != nullptr) ::LocalFree(text);
  // The system's texts end in a line break, which would leave an empty line
  // at the foot of the API error box.
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
    result.pop_back();
  }
  if (result.empty()) result = "Unknown error " + std::to_string(code);
  return result;
}

}  // namespace platform
