// Appending to the record file on POSIX. O_NOFOLLOW refuses a symbolic link
// planted in a shared log folder (the station would otherwise append to
// whatever it points at), fstat refuses anything but a regular file, and
// flock keeps the header check and the write of two processes apart (the
// process's own lock keeps its threads apart before this is reached).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "platform/record_file.h"

namespace platform {
namespace {

std::string Reason(int err) { return std::generic_category().message(err); }

// Writes all of text; a regular file opened for appending takes it in one
// write, the loop only covers an interrupted or short one.
bool WriteAll(int fd, const std::string& text, int& err) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool AppendToRecordFile(const std::string& path, const std::string& header,
                        const std::string& text, std::string& error) {
  // O_NONBLOCK: a FIFO put in the file's place must not hold the run.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                            O_NOCTTY,
                        0666);
  if (fd < 0) {
    // Say what stands in the file's place where that is why (a FIFO without
    // a reader fails with ENXIO, a folder with EISDIR).
    const int err = errno;
    struct stat there{};
    if (::lstat(path.c_str(), &there) == 0 && !S_ISREG(there.st_mode)) {
      error = S_ISLNK(there.st_mode) ? "it is a symbolic link" : "it is not a regular file";
    } else {
      error = Reason(err);
    }
    return false;
  }
  struct stat info{};
  if (::fstat(fd, &info) != 0) {
    error = Reason(errno);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "it is not a regular file";
    ::close(fd);
    return false;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    error = Reason(errno);
    ::close(fd);
    return false;
  }
  int err = 0;
  bool ok = ::fstat(fd, &info) == 0;
  if (!ok) err = errno;
  if (ok) ok = WriteAll(fd, info.st_size == 0 ? header + text : text, err);
  ::flock(fd, LOCK_UN);
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) error = Reason(err);
  return ok;
}

}  // namespace platform
