// Replacing a file whole on POSIX: mkstemp beside it, write, fsync, rename.
// rename() within one folder swaps the name in one step; the fsync before it
// makes sure the new name never leads to a file whose data is still only in
// the page cache when the power goes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_replace.h"

namespace platform {
namespace {

std::string Reason(const char* step, int err) {
  return std::string(step) + ": " + std::generic_category().message(err);
}

std::string FolderOf(const std::string& path) {
  const size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const std::string& content,
                         std::string& error) {
  std::vector<char> temp(path.begin(), path.end());
  const char kSuffix[] = ".saving-XXXXXX";
  temp.insert(temp.end(), kSuffix, kSuffix + sizeof kSuffix);  // with its terminator
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = Reason("cannot create a file beside it", errno);
    return false;
  }
  auto fail = [&](const char* step, int err) {
    ::close(fd);
    ::unlink(temp.data());
    error = Reason(step, err);
    return false;
  };
  // The new file gets the old one's permissions; a new settings file those
  // of a file created in the ordinary way.
  struct stat old{};
  mode_t mode = 0;
  if (::stat(path.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd, mode) != 0) return fail("cannot set its permissions", errno);
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("cannot write it", n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return fail("cannot flush it to the disk", errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.data());
    error = Reason("cannot write it", err);
    return false;
  }
  if (::rename(temp.data(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.data());
    error = Reason("cannot replace it", err);
    return false;
  }
  // The new name itself reaches the disk with the folder; a failure here
  // leaves a complete file under one name or the other.
  const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace platform
