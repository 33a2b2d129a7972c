#include "firmware/file_access.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "firmware/hex_digit.h"
#include "platform/format.h"
#include "platform/regular_file.h"

namespace {


// The box for a path that opened but is no file to read whole: reading a
// device or a pipe would never end, and a folder holds no firmware.
std::string NotRegularText(const std::string& path, platform::FileKind kind) {
  switch (kind) {
    case platform::FileKind::kDirectory: return "File " + path + " is a folder, not a regular file";
    case platform::FileKind::kDevice: return "File " + path + " is a device, not a regular file";
    case platform::FileKind::kPipe: return "File " + path + " is a pipe, not a regular file";
    default: return "File " + path + " is not a regular file";
  }
}

// How a read of a file's contents into a buffer ended.
enum class ReadEnd { kComplete, kShort, kFailed, kAborted };

// Reads size bytes of file into buffer in pieces of at most piece bytes,
// looking at the abort request before each piece. total and reads count what
// was read; error is the system's code of a failed read.
ReadEnd ReadPieces(AbortFlag abort, std::FILE* file, uint32_t size, char* buffer, size_t piece,
                   uint32_t& total, int& reads, int& error,
                   const std::function<void(uint64_t)>& afterPiece) {
  total = 0;
  reads = 0;
  while (total < size) {
    if (AbortRequested(abort)) return ReadEnd::kAborted;
    const size_t want = std::min<size_t>(piece, size - total);
    errno = 0;
    const size_t got = std::fread(buffer + total, 1, want, file);
    if (got == 0 && std::ferror(file)) {
      error = errno;
      return ReadEnd::kFailed;
    }
    if (got == 0) return ReadEnd::kShort;
    ++reads;
    total += static_cast<uint32_t>(got);
    if (afterPiece) afterPiece(total);
  }
  return ReadEnd::kComplete;
}

// A buffer for a file of size bytes and its zero byte; null when there is no
// room.
std::unique_ptr<char[]> FileMemory(uint32_t size) {
  return std::unique_ptr<char[]>(new (std::nothrow) char[size_t{size} + 1]);
}

constexpr const char* kNoMemoryText = "Memory allocation failed\n";

}  // namespace

FilePtr OpenFirmwareFile(const std::string& path, const char* openText, uint32_t& size,
                         ReadFault& fault) {
  const platform::OpenedFile opened = platform::OpenRegularFile(path);
  if (opened.file == nullptr) {
    fault = {UPD_FILE_OPEN_FAILED,
             opened.error != 0 ? std::string(openText) : NotRegularText(path, opened.kind)};
    return nullptr;
  }
  FilePtr file(opened.file);
  if (opened.size > kMaxFirmwareFileBytes) {
    fault = {UPD_FILE_SIZE_ERROR,
             Format("File %s is too large: %llu bytes, at most %llu", path.c_str(),
                    static_cast<unsigned long long>(opened.size),
                    static_cast<unsigned long long>(kMaxFirmwareFileBytes))};
    return nullptr;
  }
  size = static_cast<uint32_t>(opened.size);
  fault = {};
  return file;
}

ReadFault ReadFileToSend(const std::string& path, std::FILE* file, uint32_t size, FileBuffer& out,
                         AbortFlag abort, const std::function<void(uint64_t)>& afterPiece) {
  std::unique_ptr<char[]> buffer = FileMemory(size);
  if (!buffer) return {UPD_NO_MEMORY, kNoMemoryText};
  uint32_t total = 0;
  int reads = 0, error = 0;
  switch (ReadPieces(abort, file, size, buffer.get(), kFileCopyChunkBytes, total, reads, error,
                     afterPiece)) {
    case ReadEnd::kAborted:
      return UPD_ABORTED;
    case ReadEnd::kFailed:
      return {UPD_READ_FAILED, "Cannot read from file\n"};
    case ReadEnd::kShort:
      // Sending what was read would pass a cut file off as the firmware.
      return {UPD_READ_FAILED,
              Format("File %s ended after %u of its %u bytes: it changed while it was read",
                     path.c_str(), static_cast<unsigned>(total), static_cast<unsigned>(size))};
    case ReadEnd::kComplete:
      break;
  }
  buffer[size] = 0;
  out.data = std::move(buffer);
  out.size = size;
  return {};
}

ReadFault TakeFileToSend(const std::string& path, FileBuffer& out, AbortFlag abort) {
  uint32_t size = 0;
  ReadFault fault;
  FilePtr file = OpenFirmwareFile(path, kSendFileOpenText, size, fault);
  if (!file) return fault;
  return ReadFileToSend(path, file.get(), size, out, abort);
}

ReadFault ReadFileContents(const std::string& path, std::FILE* file, uint32_t size,
                           FileBuffer& out, AbortFlag abort) {
  std::unique_ptr<char[]> buffer = FileMemory(size);
  if (!buffer) return {UPD_NO_MEMORY, kNoMemoryText};
  uint32_t total = 0;
  int reads = 0, error = 0;
  switch (ReadPieces(abort, file, size, buffer.get(), kFileBlockBytes, total, reads, error, {})) {
    case ReadEnd::kAborted:
      return UPD_ABORTED;
    case ReadEnd::kFailed:
      return {UPD_READ_FAILED,
              Format("Cannot read from file: <%s> error %d  readtimes %d dwTotRead %d\n",
                     path.c_str(), error, reads, static_cast<int>(total))};
    case ReadEnd::kShort:
      // A file that ended early (it shrank after its size was read) is
      // silent: the caller reports the failed read.
      return UPD_READ_FAILED;
    case ReadEnd::kComplete:
      break;
  }
  buffer[size] = 0;
  out.data = std::move(buffer);
  out.size = size;
  return {};
}

ReadFault ReadWholeFile(const std::string& path, FileBuffer& out, AbortFlag abort) {
  uint32_t size = 0;
  ReadFault fault;
  FilePtr file = OpenFirmwareFile(path, "ReadWholeFile : CreateFile", size, fault);
  if (!file) return fault;
  return ReadFileContents(path, file.get(), size, out, abort);
}

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// One two-character field read as a hexadecimal number the way the header
// tag has always been read: leading white space skipped, digits up to the
// first non-digit, 0 when the pair holds no digit. CR LF therefore gives 0.
uint8_t PairValue(const char* text, size_t length, size_t position) {
  const size_t end = std::min(position + 2, length);
  size_t i = position;
  while (i < end && IsSpace(text[i])) ++i;
  unsigned value = 0;
  for (; i < end && HexDigit(text[i]) >= 0; ++i) value = value * 16 + HexDigit(text[i]);
  return static_cast<uint8_t>(value);
}

}  // namespace

bool DecodeHeaderTag(const char* text, size_t length, uint8_t* header, size_t capacity) {
  if (length == 0 || capacity == 0 || header == nullptr) return false;
  size_t position = 4;  // past the record type and the byte count
  size_t i = 0;
  while (position < length && text[position] != 'S' && i < capacity - 1) {
    header[i++] = PairValue(text, length, position);
    position += 2;
  }
  // Only the start of the next record, found at a pair boundary, proves that
  // the whole first record was decoded.
  if (position < length && text[position] == 'S') {
    header[i] = 0;
    return true;
  }
  return false;
}

ReadFault ReadHdrStr(const std::string& path, uint8_t* header, size_t capacity) {
  uint32_t size = 0;
  ReadFault fault;
  FilePtr file = OpenFirmwareFile(path, "ReadHdrStr : CreateFile", size, fault);
  if (!file) return fault;
  char text[kHeaderTagTextBytes];
  const size_t got = std::fread(text, 1, sizeof text, file.get());
  if (got < sizeof text && std::ferror(file.get())) return {UPD_READ_FAILED, "Cannot read from file\n"};
  return DecodeHeaderTag(text, got, header, capacity) ? ReadFault{} : ReadFault{UPD_NO_HEADER};
}

ReadFault CheckFileToSend(const std::string& path, uint32_t& size) {
  FileBuffer copy;
  ReadFault fault = TakeFileToSend(path, copy);
  if (fault.Ok()) size = static_cast<uint32_t>(copy.size);
  return fault;
}
