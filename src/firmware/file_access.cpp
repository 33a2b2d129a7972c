#include "firmware/file_access.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "firmware/transfer_rate.h"
#include "firmware/hex_digit.h"
#include "link/comm_dialog.h"
#include "link/line_watch.h"
#include "platform/message_box.h"
#include "platform/time.h"

namespace {

// Closes the file on every way out of a function.
struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string Format(const char* format, auto... args) {
  char text[512];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// Percentage and progress position of done out of total; an empty total
// counts as complete so that nothing divides by zero.
long Percent(uint64_t done, uint64_t total) {
  return total == 0 ? 100L : static_cast<long>(done * 100 / total);
}
int ProgressPos(uint64_t done, uint64_t total) {
  return total == 0 ? 1000 : static_cast<int>(done * 1000 / total);
}

}  // namespace

std::FILE* OpenFirmwareFile(const std::string& path) {
  // A directory opens for reading on POSIX systems but is no file to send.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return nullptr;
  return std::fopen(path.c_str(), "rb");
}

bool GetFirmwareFileSize(std::FILE* file, uint32_t& size) {
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  const long end = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) return false;
  if (end < 0 || static_cast<unsigned long long>(end) > 0xFFFFFFFFull) return false;
  size = static_cast<uint32_t>(end);
  return true;
}

namespace {

// Opens the file and reads its size, as every reader here begins; on failure
// shows openText or "GetFileSize" and sets result.
FilePtr OpenSized(CCommDialog* panel, const std::string& path, const char* openText,
                  uint32_t& size, UpdateStatus& result) {
  FilePtr file(OpenFirmwareFile(path));
  if (!file) {
    ShowError(panel->m_szPortName, openText);
    result = UPD_FILE_OPEN_FAILED;
    return nullptr;
  }
  if (!GetFirmwareFileSize(file.get(), size)) {
    ShowError(panel->m_szPortName, "GetFileSize");
    result = UPD_FILE_SIZE_ERROR;
    return nullptr;
  }
  result = UPD_OK;
  return file;
}

}  // namespace

UpdateStatus SendFile(CCommDialog* panel, const std::string& path, const char* label) {
  uint32_t fileSize = 0;
  UpdateStatus opened = UPD_OK;
  FilePtr file = OpenSized(panel, path, kSendFileOpenText, fileSize, opened);
  if (!file) return opened;

  panel->m_progress.SetRange(0, 1000);
  panel->m_progress.SetPos(0);
  uint64_t total = 0;
  BlockRate rate;
  char block[kFileBlockBytes];
  for (;;) {
    const size_t n = std::fread(block, 1, sizeof block, file.get());
    if (n == 0 && std::ferror(file.get())) {
      ShowError(panel->m_szPortName, "Cannot read from file\n");
      return UPD_READ_FAILED;
    }
    if (n == 0) return UPD_OK;

    const uint32_t start = platform::GetTickCount();
    const UpdateStatus written = WriteTransferBlock(panel, block, static_cast<uint32_t>(n));
    if (written != UPD_OK) return written;
    const uint32_t elapsed = platform::GetTickCount() - start;

    total += n;
    const uint32_t shown = rate.Add(static_cast<uint32_t>(n), elapsed);
    panel->ShowStatus(Format("%s %dKB %ld bytes/sec %ld%%", label,
                             static_cast<int>(fileSize / 1024), static_cast<long>(shown),
                             Percent(total, fileSize)));
    panel->m_progress.SetPos(ProgressPos(total, fileSize));
    // A short read may be the end of the file or an error; the next read says which.
  }
}

UpdateStatus ReadFileContents(CCommDialog* panel, const std::string& path, std::FILE* file,
                              uint32_t size, FileBuffer& out) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size_t{size} + 1]);
  if (!buffer) {
    ShowError(panel->m_szPortName, "Memory allocation failed\n");
    return UPD_NO_MEMORY;
  }
  uint32_t total = 0;
  int reads = 0;
  for (;;) {
    const size_t want = std::min<size_t>(kFileBlockBytes, size - total);
    // A piece of 0 bytes (the size is reached) reads nothing and ends the loop.
    const size_t got = want == 0 ? 0 : std::fread(buffer.get() + total, 1, want, file);
    if (got == 0 && want != 0 && std::ferror(file)) {
      const int error = errno;
      ShowError(panel->m_szPortName,
                Format("Cannot read from file: <%s> error %d  readtimes %d dwTotRead %d\n",
                       path.c_str(), error, reads, static_cast<int>(total)));
      return UPD_READ_FAILED;
    }
    if (got == 0) break;
    ++reads;
    total += static_cast<uint32_t>(got);
  }
  // A file that ended early (it shrank after its size was read) is silent:
  // the caller reports the failed read.
  if (total != size) return UPD_READ_FAILED;
  buffer[total] = 0;
  out.data = std::move(buffer);
  out.size = size;
  return UPD_OK;
}

UpdateStatus ReadWholeFile(CCommDialog* panel, const std::string& path, FileBuffer& out) {
  uint32_t size = 0;
  UpdateStatus opened = UPD_OK;
  FilePtr file = OpenSized(panel, path, "ReadWholeFile : CreateFile", size, opened);
  if (!file) return opened;
  return ReadFileContents(panel, path, file.get(), size, out);
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

UpdateStatus ReadHdrStr(CCommDialog* panel, const std::string& path, uint8_t* header,
                        size_t capacity) {
  uint32_t size = 0;
  UpdateStatus opened = UPD_OK;
  FilePtr file = OpenSized(panel, path, "ReadHdrStr : CreateFile", size, opened);
  if (!file) return opened;
  char text[4096];
  const size_t got = std::fread(text, 1, sizeof text, file.get());
  if (got < sizeof text && std::ferror(file.get())) {
    ShowError(panel->m_szPortName, "Cannot read from file\n");
    return UPD_READ_FAILED;
  }
  return DecodeHeaderTag(text, got, header, capacity) ? UPD_OK : UPD_NO_HEADER;
}

UpdateStatus CheckFileToSend(CCommDialog* panel, const std::string& path, uint32_t& size) {
  UpdateStatus opened = UPD_OK;
  FilePtr file = OpenSized(panel, path, kSendFileOpenText, size, opened);
  if (!file) return opened;
  char block[4096];
  while (std::fread(block, 1, sizeof block, file.get()) == sizeof block) {
  }
  if (std::ferror(file.get())) {
    ShowError(panel->m_szPortName, "Cannot read from file\n");
    return UPD_READ_FAILED;
  }
  return UPD_OK;
}
