// Opening a firmware file that is to be read whole: the open never waits (a
// FIFO without a writer, a terminal) and only a regular file is handed out,
// so that a device, a pipe or a folder named as firmware is refused at once
// instead of being read for ever or blocking the port's thread. Used by the
// firmware file functions (firmware/file_access) and the image reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// What a path that opened turned out to be.
enum class FileKind { kRegular, kDirectory, kDevice, kPipe, kOther };

struct OpenedFile {
  // Open for binary reading from its start when the path is a regular file;
  // the caller closes it with fclose. Null otherwise.
  std::FILE* file = nullptr;
  // Meaningful when error is 0: kRegular with file set, or what else the
  // path is (the file was closed again).
  FileKind kind = FileKind::kOther;
  uint64_t size = 0;  // bytes of a regular file when it was opened
  int error = 0;      // the system's error code when the path did not open
};

// Opens path read-only for an existing file, other readers allowed.
OpenedFile OpenRegularFile(const std::string& path);

}  // namespace platform
