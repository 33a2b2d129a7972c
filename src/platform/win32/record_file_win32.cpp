// Appending to the record file on Windows. FILE_FLAG_OPEN_REPARSE_POINT opens
// a symbolic link or junction itself rather than what it points at, and the
// attribute and file-type checks then refuse it, as they refuse a folder or a
// device; LockFileEx keeps the header check and the write of two processes
// apart.
#include <string>

#include "platform/message_box.h"
#include "platform/record_file.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// The system's own text for a Win32 code (std::system_category of this C++
// library would look the number up as an errno value).
std::string Reason(DWORD err) { return SystemErrorText(static_cast<int>(err)); }

}  // namespace

bool AppendToRecordFile(const std::string& path, const std::string& header,
                        const std::string& text, std::string& error) {
  const HANDLE file =
      ::CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = Reason(::GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) {
    error = Reason(::GetLastError());
    ::CloseHandle(file);
    return false;
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      ::GetFileType(file) != FILE_TYPE_DISK) {
    error = "it is not a regular file";
    ::CloseHandle(file);
    return false;
  }
  OVERLAPPED whole{};
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    error = Reason(::GetLastError());
    ::CloseHandle(file);
    return false;
  }
  LARGE_INTEGER size{};
  bool ok = ::GetFileSizeEx(file, &size) != FALSE;
  DWORD err = ok ? ERROR_SUCCESS : ::GetLastError();
  if (ok) {
    const std::string bytes = size.QuadPart == 0 ? header + text : text;
    DWORD written = 0;
    ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
    if (!ok) err = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_WRITE_FAULT;
  }
  OVERLAPPED again{};
  ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &again);
  ::CloseHandle(file);
  if (!ok) error = Reason(err);
  return ok;
}

}  // namespace platform
