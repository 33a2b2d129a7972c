// Firmware files on Windows: CreateFile never waits on a file, and the
// handle's type (disk, character device, pipe) and attributes tell a file
// from a device, a pipe or a folder. The handle then becomes a C stream.
#include "platform/regular_file.h"

#include <fcntl.h>
#include <io.h>

#include <cstdint>

#include "platform/win32/windows_api.h"

namespace platform {

namespace {

// What an open handle leads to; size set for a regular file.
FileKind KindOf(HANDLE handle, uint64_t& size) {
  switch (::GetFileType(handle)) {
    case FILE_TYPE_CHAR: return FileKind::kDevice;
    case FILE_TYPE_PIPE: return FileKind::kPipe;
    case FILE_TYPE_DISK: break;
    default: return FileKind::kOther;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return FileKind::kOther;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kDirectory;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return FileKind::kDevice;
  size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return FileKind::kRegular;
}

}  // namespace

OpenedFile OpenRegularFile(const std::string& path) {
  OpenedFile opened;
  // Backup semantics let a folder open, so that it is named as a folder
  // rather than as a file that cannot be opened.
  HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    opened.error = static_cast<int>(::GetLastError());
    if (opened.error == 0) opened.error = ERROR_GEN_FAILURE;
    return opened;
  }
  uint64_t size = 0;
  opened.kind = KindOf(handle, size);
  if (opened.kind != FileKind::kRegular) {
    ::CloseHandle(handle);
    return opened;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    opened.error = ERROR_INVALID_HANDLE;
    ::CloseHandle(handle);
    return opened;
  }
  // From here the descriptor owns the handle, and the stream the descriptor.
  std::FILE* file = ::_fdopen(fd, "rb");
  if (file == nullptr) {
    opened.error = ERROR_NOT_ENOUGH_MEMORY;
    ::_close(fd);
    return opened;
  }
  opened.file = file;
  opened.size = size;
  return opened;
}

}  // namespace platform
