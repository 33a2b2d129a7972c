// Firmware file access for the update engines: streaming a raw file to the
// scanner with progress, reading a whole file into memory, and decoding the
// header tag of an S-record file. Failures show an error box captioned with
// the port name and return an UpdateStatus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "update/update_status.h"

class CCommDialog;

// Largest block read from a file and written to the port at once.
constexpr size_t kFileBlockBytes = 100;

// Streams the file unchanged in blocks of up to 100 bytes; the status line
// shows "<label> <n>KB <rate> bytes/sec <pct>%". UPD_OK, UPD_ABORTED,
// UPD_READ_FAILED, UPD_FILE_SIZE_ERROR, UPD_FILE_OPEN_FAILED. A failed port
// write stops the transfer (see the source for the code it gives).
UpdateStatus SendFile(CCommDialog* panel, const std::string& path, const char* label);

// A file image: size bytes followed by one zero byte.
struct FileBuffer {
  std::unique_ptr<char[]> data;
  size_t size = 0;
};

// Reads the whole file. On UPD_OK fills out; on failure leaves it empty.
UpdateStatus ReadWholeFile(CCommDialog* panel, const std::string& path, FileBuffer& out);

// Decodes the first record of an S-record file into header (capacity bytes,
// zero-terminated). UPD_OK, UPD_READ_FAILED, UPD_FILE_SIZE_ERROR,
// UPD_FILE_OPEN_FAILED, UPD_NO_HEADER.
UpdateStatus ReadHdrStr(CCommDialog* panel, const std::string& path, uint8_t* header,
                        size_t capacity);
