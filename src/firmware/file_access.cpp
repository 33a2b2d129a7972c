#include "firmware/file_access.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "firmware/hex_digit.h"
#include "firmware/sha256.h"
#include "firmware/transfer_rate.h"
#include "link/comm_dialog.h"
#include "link/line_watch.h"
#include "platform/format.h"
#include "platform/message_box.h"
#include "platform/regular_file.h"
#include "platform/time.h"

namespace {

// Percentage and progress position of done out of total; an empty total
// counts as complete so that nothing divides by zero.
long Percent(uint64_t done, uint64_t total) {
  return total == 0 ? 100L : static_cast<long>(done * 100 / total);
}
int ProgressPos(uint64_t done, uint64_t total) {
  return total == 0 ? 1000 : static_cast<int>(done * 1000 / total);
}

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
ReadEnd ReadPieces(CCommDialog* panel, std::FILE* file, uint32_t size, char* buffer, size_t piece,
                   uint32_t& total, int& reads, int& error,
                   const std::function<void(uint64_t)>& afterPiece) {
  total = 0;
  reads = 0;
  while (total < size) {
    if (panel->m_bAbort) return ReadEnd::kAborted;
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

// A buffer for a file of size bytes and its zero byte; null (after the box)
// when there is no room.
std::unique_ptr<char[]> FileMemory(CCommDialog* panel, uint32_t size) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size_t{size} + 1]);
  if (!buffer) ShowError(panel->m_szPortName, "Memory allocation failed\n");
  return buffer;
}

}  // namespace

FilePtr OpenFirmwareFile(CCommDialog* panel, const std::string& path, const char* openText,
                         uint32_t& size, UpdateStatus& result) {
  const platform::OpenedFile opened = platform::OpenRegularFile(path);
  if (opened.file == nullptr) {
    ShowError(panel->m_szPortName, opened.error != 0 ? std::string(openText)
                                                     : NotRegularText(path, opened.kind));
    result = UPD_FILE_OPEN_FAILED;
    return nullptr;
  }
  FilePtr file(opened.file);
  if (opened.size > kMaxFirmwareFileBytes) {
    ShowError(panel->m_szPortName,
              Format("File %s is too large: %llu bytes, at most %llu", path.c_str(),
                     static_cast<unsigned long long>(opened.size),
                     static_cast<unsigned long long>(kMaxFirmwareFileBytes)));
    result = UPD_FILE_SIZE_ERROR;
    return nullptr;
  }
  size = static_cast<uint32_t>(opened.size);
  result = UPD_OK;
  return file;
}

UpdateStatus SendFileCopy(CCommDialog* panel, const FileBuffer& copy, const char* label) {
  const uint64_t fileSize = copy.size;
  panel->m_progress.SetRange(0, 1000);
  panel->m_progress.SetPos(0);
  uint64_t total = 0;
  BlockRate rate;
  while (total < fileSize) {
    if (panel->m_bAbort) return UPD_ABORTED;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kFileBlockBytes, fileSize - total));
    const uint32_t start = platform::GetTickCount();
    const UpdateStatus written =
        WriteTransferBlock(panel, copy.data.get() + total, static_cast<uint32_t>(n));
    if (written != UPD_OK) return written;
    const uint32_t elapsed = platform::GetTickCount() - start;

    total += n;
    const uint32_t shown = rate.Add(static_cast<uint32_t>(n), elapsed);
    panel->ShowStatus(Format("%s %dKB %ld bytes/sec %ld%%", label,
                             static_cast<int>(fileSize / 1024), static_cast<long>(shown),
                             Percent(total, fileSize)));
    panel->m_progress.SetPos(ProgressPos(total, fileSize));
  }
  return panel->m_bAbort ? UPD_ABORTED : UPD_OK;
}

UpdateStatus SendFile(CCommDialog* panel, const std::string& path, const char* label,
                      std::string* sha256) {
  // The file is taken whole before anything is sent: the scanner gets
  // exactly the bytes read, whatever happens to the file meanwhile.
  FileBuffer copy;
  UpdateStatus result = TakeFileToSend(panel, path, copy);
  if (result != UPD_OK) return result;
  result = SendFileCopy(panel, copy, label);
  if (result == UPD_OK && sha256 != nullptr) *sha256 = Sha256Hex(copy.data.get(), copy.size);
  return result;
}

UpdateStatus ReadFileToSend(CCommDialog* panel, const std::string& path, std::FILE* file,
                            uint32_t size, FileBuffer& out,
                            const std::function<void(uint64_t)>& afterPiece) {
  std::unique_ptr<char[]> buffer = FileMemory(panel, size);
  if (!buffer) return UPD_NO_MEMORY;
  uint32_t total = 0;
  int reads = 0, error = 0;
  switch (ReadPieces(panel, file, size, buffer.get(), kFileCopyChunkBytes, total, reads, error,
                     afterPiece)) {
    case ReadEnd::kAborted:
      return UPD_ABORTED;
    case ReadEnd::kFailed:
      ShowError(panel->m_szPortName, "Cannot read from file\n");
      return UPD_READ_FAILED;
    case ReadEnd::kShort:
      // Sending what was read would pass a cut file off as the firmware.
      ShowError(panel->m_szPortName,
                Format("File %s ended after %u of its %u bytes: it changed while it was read",
                       path.c_str(), static_cast<unsigned>(total), static_cast<unsigned>(size)));
      return UPD_READ_FAILED;
    case ReadEnd::kComplete:
      break;
  }
  buffer[size] = 0;
  out.data = std::move(buffer);
  out.size = size;
  return UPD_OK;
}

UpdateStatus TakeFileToSend(CCommDialog* panel, const std::string& path, FileBuffer& out) {
  uint32_t size = 0;
  UpdateStatus opened = UPD_OK;
  FilePtr file = OpenFirmwareFile(panel, path, kSendFileOpenText, size, opened);
  if (!file) return opened;
  return ReadFileToSend(panel, path, file.get(), size, out);
}

UpdateStatus ReadFileContents(CCommDialog* panel, const std::string& path, std::FILE* file,
                              uint32_t size, FileBuffer& out) {
  std::unique_ptr<char[]> buffer = FileMemory(panel, size);
  if (!buffer) return UPD_NO_MEMORY;
  uint32_t total = 0;
  int reads = 0, error = 0;
  switch (ReadPieces(panel, file, size, buffer.get(), kFileBlockBytes, total, reads, error, {})) {
    case ReadEnd::kAborted:
      return UPD_ABORTED;
    case ReadEnd::kFailed:
      ShowError(panel->m_szPortName,
                Format("Cannot read from file: <%s> error %d  readtimes %d dwTotRead %d\n",
                       path.c_str(), error, reads, static_cast<int>(total)));
      return UPD_READ_FAILED;
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
  return UPD_OK;
}

UpdateStatus ReadWholeFile(CCommDialog* panel, const std::string& path, FileBuffer& out) {
  uint32_t size = 0;
  UpdateStatus opened = UPD_OK;
  FilePtr file = OpenFirmwareFile(panel, path, "ReadWholeFile : CreateFile", size, opened);
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
  FilePtr file = OpenFirmwareFile(panel, path, "ReadHdrStr : CreateFile", size, opened);
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
  FileBuffer copy;
  const UpdateStatus result = TakeFileToSend(panel, path, copy);
  if (result == UPD_OK) size = static_cast<uint32_t>(copy.size);
  return result;
}
