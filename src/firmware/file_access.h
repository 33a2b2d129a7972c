// Firmware file access for the update engines: streaming a raw file to the
// scanner with progress, reading a whole file into memory (the loader update
// changes it before sending), and decoding the header tag of an S-record file
// (the programming sequence matches it against the scanner family).
//
// Called on a port's programming thread. Failures show an error box captioned
// with the port name and return an UpdateStatus; an abort is silent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "link/update_status.h"

class CCommDialog;

// Largest block read from a file and written to the port at once.
constexpr size_t kFileBlockBytes = 100;

// Opens an existing firmware file for reading (others may read it at the same
// time). Null when it cannot be opened or is a directory.
std::FILE* OpenFirmwareFile(const std::string& path);
// The file's size as the system reports it; false when it cannot be read or
// does not fit 32 bits. Leaves the file positioned at its start.
bool GetFirmwareFileSize(std::FILE* file, uint32_t& size);

// Streams the file unchanged in blocks of up to 100 bytes; after every block
// the status line shows "<label> <n>KB <rate> bytes/sec <pct>%" and the
// progress bar (range 0..1000) the share sent. UPD_OK, UPD_ABORTED (the abort
// request, or a port write that failed: the port was closed or is gone),
// UPD_READ_FAILED, UPD_FILE_SIZE_ERROR, UPD_FILE_OPEN_FAILED.
UpdateStatus SendFile(CCommDialog* panel, const std::string& path, const char* label);
// SendFile's box for a file that does not open.
inline constexpr const char* kSendFileOpenText = "SendFile : CreateFile";

// What SendFile needs of the file before a scanner is on the line: it opens,
// its size can be read, and it reads to its end. Shows SendFile's boxes.
// UPD_OK (size set), UPD_FILE_OPEN_FAILED, UPD_FILE_SIZE_ERROR, UPD_READ_FAILED.
UpdateStatus CheckFileToSend(CCommDialog* panel, const std::string& path, uint32_t& size);

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
// UPD_OK, UPD_READ_FAILED, UPD_FILE_SIZE_ERROR, UPD_FILE_OPEN_FAILED,
// UPD_NO_MEMORY.
UpdateStatus ReadWholeFile(CCommDialog* panel, const std::string& path, FileBuffer& out);

// The reading half of ReadWholeFile, for a file already open whose size was
// read as size: a file that ends before size bytes (it shrank meanwhile) gives
// UPD_READ_FAILED without a message. path only names the file in messages.
UpdateStatus ReadFileContents(CCommDialog* panel, const std::string& path, std::FILE* file,
                              uint32_t size, FileBuffer& out);

// Decodes the first record of an S-record file into header (capacity bytes,
// zero-terminated): the digit pairs after the type and byte count up to the
// next record's "S", including the checksum and a zero for the CR LF pair.
// UPD_OK, UPD_READ_FAILED, UPD_FILE_SIZE_ERROR, UPD_FILE_OPEN_FAILED,
// UPD_NO_HEADER (silent).
UpdateStatus ReadHdrStr(CCommDialog* panel, const std::string& path, uint8_t* header,
                        size_t capacity);

// The decoding step of ReadHdrStr on the first length bytes of text. True when
// the decoding stopped on the next record's "S"; header then ends in a zero.
bool DecodeHeaderTag(const char* text, size_t length, uint8_t* header, size_t capacity);
