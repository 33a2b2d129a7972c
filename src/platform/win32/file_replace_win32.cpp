// Replacing a file whole on Windows: a temporary file beside it, written and
// flushed with FlushFileBuffers, then moved over the old one with
// MoveFileEx(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), which
// replaces the name in one step on the same volume.
#include <algorithm>
#include <string>

#include "platform/file_replace.h"
#include "platform/message_box.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

std::string Reason(const char* step, DWORD err) {
  return std::string(step) + ": " + SystemErrorText(static_cast<int>(err));
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const std::string& content,
                         std::string& error) {
  const std::string temp = path + ".saving";
  const HANDLE file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = Reason("cannot create a file beside it", ::GetLastError());
    return false;
  }
  auto fail = [&](const char* step, DWORD err) {
    ::CloseHandle(file);
    ::DeleteFileA(temp.c_str());
    error = Reason(step, err);
    return false;
  };
  size_t done = 0;
  while (done < content.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file, content.data() + done, piece, &written, nullptr)) {
      return fail("cannot write it", ::GetLastError());
    }
    if (written == 0) return fail("cannot write it", ERROR_WRITE_FAULT);
    done += written;
  }
  if (!::FlushFileBuffers(file)) return fail("cannot flush it to the disk", ::GetLastError());
  ::CloseHandle(file);
  if (!::MoveFileExA(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD err = ::GetLastError();
    ::DeleteFileA(temp.c_str());
    error = Reason("cannot replace it", err);
    return false;
  }
  return true;
}

}  // namespace platform
