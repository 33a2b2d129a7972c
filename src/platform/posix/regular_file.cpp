// Firmware files on POSIX systems: opened without blocking and without
// becoming the controlling terminal, then told apart by fstat.
#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

FileKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kRegular;
  if (S_ISDIR(mode)) return FileKind::kDirectory;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::kDevice;
  if (S_ISFIFO(mode) || S_ISSOCK(mode)) return FileKind::kPipe;
  return FileKind::kOther;
}

}  // namespace

OpenedFile OpenRegularFile(const std::string& path) {
  OpenedFile opened;
  // O_NONBLOCK: a FIFO without a writer would otherwise hold the open until
  // one comes; the flag is dropped again once the path is known to be a file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    opened.error = errno != 0 ? errno : EIO;
    return opened;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    opened.error = errno != 0 ? errno : EIO;
    ::close(fd);
    return opened;
  }
  opened.kind = KindOf(status.st_mode);
  if (opened.kind != FileKind::kRegular) {
    ::close(fd);
    return opened;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    opened.error = errno != 0 ? errno : EIO;
    ::close(fd);
    return opened;
  }
  opened.file = file;
  opened.size = static_cast<uint64_t>(status.st_size);
  return opened;
}

}  // namespace platform
