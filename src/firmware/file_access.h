// Firmware file access: reading a raw file whole into memory (the copy a raw
// download sends, so the scanner gets exactly the bytes read; the loader
// image the loader update changes before sending), and decoding the header
// tag of an S-record file (the programming sequence matches it against the
// scanner family). Only regular files of a plausible size are read, and never
// with a wait on the open: a device, a pipe or a folder named as firmware is
// refused at once.
//
// The readers show nothing: they hand back a ReadFault with the text of the
// box a run shows for it. Called by the update engines on a port's
// programming thread (which turn faults into the port's boxes), by the
// pre-flight check and by the fuzz targets and tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "firmware/read_fault.h"
#include "link/update_status.h"

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
// file of at most kMaxFirmwareFileBytes is handed out; otherwise fault says
// why: openText when the file does not open (UPD_FILE_OPEN_FAILED), "File
// <path> is a device, not a regular file" (a folder, a pipe;
// UPD_FILE_OPEN_FAILED), "File <path> is too large: <n> bytes, at most <max>"
// (UPD_FILE_SIZE_ERROR).
FilePtr OpenFirmwareFile(const std::string& path, const char* openText, uint32_t& size,
                         ReadFault& fault);

// The text of a raw download's fault for a file that does not open.
inline constexpr const char* kSendFileOpenText = "SendFile : CreateFile";

// What a raw download needs of the file before a scanner is on the line: it
// opens, is a regular file of a size that can be taken, and reads whole. The
// faults of a raw download. UPD_OK (size set), UPD_FILE_OPEN_FAILED,
// UPD_FILE_SIZE_ERROR, UPD_READ_FAILED, UPD_NO_MEMORY.
ReadFault CheckFileToSend(const std::string& path, uint32_t& size);

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
// UPD_FILE_OPEN_FAILED ("ReadWholeFile : CreateFile"), UPD_NO_MEMORY.
ReadFault ReadWholeFile(const std::string& path, FileBuffer& out, AbortFlag abort = nullptr);

// The reading half of ReadWholeFile, for a file already open whose size was
// read as size: a file that ends before size bytes (it shrank meanwhile) gives
// UPD_READ_FAILED without a text; the abort request, noticed between two
// pieces, UPD_ABORTED without one. path only names the file in texts.
ReadFault ReadFileContents(const std::string& path, std::FILE* file, uint32_t size,
                           FileBuffer& out, AbortFlag abort = nullptr);

// Takes a raw file to send into memory: a raw download's first half.
// UPD_OK (out filled), UPD_ABORTED, UPD_READ_FAILED, UPD_FILE_SIZE_ERROR,
// UPD_FILE_OPEN_FAILED, UPD_NO_MEMORY; on failure out stays empty.
ReadFault TakeFileToSend(const std::string& path, FileBuffer& out, AbortFlag abort = nullptr);

// The reading half of TakeFileToSend, for a file already open whose size was
// read as size: pieces of kFileCopyChunkBytes, the abort request looked at
// before each (UPD_ABORTED, silent). A file that ends before size bytes gives
// UPD_READ_FAILED with "File <path> ended after <n> of its <size> bytes: it
// changed while it was read", a failed read "Cannot read from file\n".
// afterPiece, when given, is called with the bytes read so far after every
// piece.
ReadFault ReadFileToSend(const std::string& path, std::FILE* file, uint32_t size, FileBuffer& out,
                         AbortFlag abort = nullptr,
                         const std::function<void(uint64_t)>& afterPiece = {});

// Bytes of the file's start ReadHdrStr decodes the header tag from.
constexpr size_t kHeaderTagTextBytes = 4096;

// Decodes the first record of an S-record file into header (capacity bytes,
// zero-terminated): the digit pairs after the type and byte count up to the
// next record's "S", including the checksum and a zero for the CR LF pair.
// UPD_OK, UPD_READ_FAILED, UPD_FILE_SIZE_ERROR, UPD_FILE_OPEN_FAILED
// ("ReadHdrStr : CreateFile"), UPD_NO_HEADER (silent).
ReadFault ReadHdrStr(const std::string& path, uint8_t* header, size_t capacity);

// The decoding step of ReadHdrStr on the first length bytes of text. True when
// the decoding stopped on the next record's "S"; header then ends in a zero.
bool DecodeHeaderTag(const char* text, size_t length, uint8_t* header, size_t capacity);
