#include "text.h"

#include "windows_api.h"

namespace vtwin {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& utf16) {
  if (utf16.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr,
                                      0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

std::wstring LogBytesToText(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size() + bytes.size() / 16);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r') {
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      out += L"\r\n";
    } else if (c == '\n') {
      out += L"\r\n";
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}

}  // namespace vtwin
