// Firmware file access for the update engines: streaming a raw file to the
// scanner with progress (from a copy taken whole first, so the scanner gets
// exactly the bytes read), reading a whole file into memory (the loader update
// changes it before sending), and decoding the header tag of an S-record file
// (the programming sequence matches it against the scanner family). Only
// regular files of a plausible size are read, and never with a wait on the
// open: a device, a pipe or a folder named as firmware is refused at once.
//
// Called on a port's programming thread. Failures show an error box captioned
// with the port name and return an UpdateStatus; an abort is silent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "link/update_status.h"

class PortSession;
class RunReporter;

// Largest block read from a file and written to the port at once.
constexpr size_t kFileBlockBytes = 100;

// The largest firmware file taken into memory. The biggest real image is a
// few megabytes; anything past this is no firmware (a disk image, a log)
// and is refused before it is read.
constexpr uint64_t kMaxFirmwareFileBytes = 512ull * 1024 * 1024;

// Bytes read at once when a raw file is taken into memory; Reset is noticed
// between two of them.
constexpr size_t kFileCopyChunkBytes = 64 * 1024;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens an existing firmware file for reading (others may read it at the
// same time) without ever waiting on it, and reads its size. Only a regular
// file of at most kMaxFirmwareFileBytes is handed out; otherwise shows a box
// and sets result: openText when the file does not open
// (UPD_FILE_OPEN_FAILED), "File <path> is a device, not a regular file" (a
// folder, a pipe; UPD_FILE_OPEN_FAILED), "File <path> is too large: <n>
// bytes, at most <max>" (UPD_FILE_SIZE_ERROR).
FilePtr OpenFirmwareFile(RunReporter& reporter, const std::string& path, const char* openText,
                         uint32_t& size, UpdateStatus& result);

// Takes the raw file whole into memory and streams that copy in blocks of up
// to 100 bytes; after every block the status line shows "<label> <n>KB <rate>
// bytes/sec <pct>%" and the progress bar (range 0..1000) the share sent. What
// the file does after it was taken (shrinks, grows, is replaced) changes
// nothing that is sent. sha256, when given, gets the digest of the bytes sent
// on UPD_OK. UPD_OK, UPD_ABORTED (the abort request, or a port write that
// failed: the port was closed or is gone), UPD_READ_FAILED,
// UPD_FILE_SIZE_ERROR, UPD_FILE_OPEN_FAILED, UPD_NO_MEMORY.
UpdateStatus SendFile(PortSession& session, RunReporter& reporter, const std::string& path, const char* label,
                      std::string* sha256 = nullptr);
// SendFile's box for a file that does not open.
inline constexpr const char* kSendFileOpenText = "SendFile : CreateFile";

// What SendFile needs of the file before a scanner is on the line: it opens,
// is a regular file of a size that can be taken, and reads whole. Shows
// SendFile's boxes. UPD_OK (size set), UPD_FILE_OPEN_FAILED,
// UPD_FILE_SIZE_ERROR, UPD_READ_FAILED, UPD_NO_MEMORY.
UpdateStatus CheckFileToSend(PortSession& session, RunReporter& reporter, const std::string& path, uint32_t& size);

// A file image: size bytes followed by one zero byte (data holds size + 1).
struct FileBuffer {
  std::unique_ptr<char[]> data;
  size_t size = 0;

  void Release() {
    data.reset();
    size = 0;
  }
};

// Reads the whole file. On UPD_OK fills out; on failure leaves it empty.
// UPD_OK, UPD_ABORTED (silent), UPD_READ_FAILED, UPD_FILE_SIZE_ERROR,
// UPD_FILE_OPEN_FAILED, UPD_NO_MEMORY.
UpdateStatus ReadWholeFile(PortSession& session, RunReporter& reporter, const std::string& path, FileBuffer& out);

// The reading half of ReadWholeFile, for a file already open whose size was
// read as size: a file that ends before size bytes (it shrank meanwhile) gives
// UPD_READ_FAILED without a message; the abort request, noticed between two
// pieces, UPD_ABORTED without one. path only names the file in messages.
UpdateStatus ReadFileContents(PortSession& session, RunReporter& reporter, const std::string& path, std::FILE* file,
                              uint32_t size, FileBuffer& out);

// Takes a raw file to send into memory: SendFile's first half.
// UPD_OK (out filled), UPD_ABORTED, UPD_READ_FAILED, UPD_FILE_SIZE_ERROR,
// UPD_FILE_OPEN_FAILED, UPD_NO_MEMORY; on failure out stays empty.
UpdateStatus TakeFileToSend(PortSession& session, RunReporter& reporter, const std::string& path, FileBuffer& out);

// The reading half of TakeFileToSend, for a file already open whose size was
// read as size: pieces of kFileCopyChunkBytes, the abort request looked at
// before each (UPD_ABORTED, silent). A file that ends before size bytes gives
// UPD_READ_FAILED with "File <path> ended after <n> of its <size> bytes: it
// changed while it was read", a failed read "Cannot read from file\n".
// afterPiece, when given, is called with the bytes read so far after every
// piece.
UpdateStatus ReadFileToSend(PortSession& session, RunReporter& reporter, const std::string& path, std::FILE* file,
                            uint32_t size, FileBuffer& out,
                            const std::function<void(uint64_t)>& afterPiece = {});

// Streams bytes (a raw file's copy) as SendFile does, the status line and
// progress bar following every block. UPD_OK, UPD_ABORTED.
UpdateStatus SendFileCopy(PortSession& session, RunReporter& reporter, const FileBuffer& copy, const char* label);

// Decodes the first record of an S-record file into header (capacity bytes,
// zero-terminated): the digit pairs after the type and byte count up to the
// next record's "S", including the checksum and a zero for the CR LF pair.
// UPD_OK, UPD_READ_FAILED, UPD_FILE_SIZE_ERROR, UPD_FILE_OPEN_FAILED,
// UPD_NO_HEADER (silent).
UpdateStatus ReadHdrStr(RunReporter& reporter, const std::string& path, uint8_t* header,
                        size_t capacity);

// The decoding step of ReadHdrStr on the first length bytes of text. True when
// the decoding stopped on the next record's "S"; header then ends in a zero.
bool DecodeHeaderTag(const char* text, size_t length, uint8_t* header, size_t capacity);
