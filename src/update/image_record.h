// RCP and VTC images in memory: the file's S-records read into a header, a
// count and a termination slot and an address-ordered list of data records,
// and the senders that write them to the scanner record by record, cutting a
// record that runs over a 64 KB boundary so a download can go in blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "update/update_status.h"

class CCommDialog;

struct ImageRecord {
  char text[80] = {};        // the line as sent, with its line end; not zero-terminated
  int32_t length = 0;        // bytes of text that are sent
  uint32_t byteCount = 0;    // value of the byte-count field
  uint32_t address = 0;      // load address (data records)
  ImageRecord* next = nullptr;
};

// Reads one line into buffer (capacity bytes); length gets the bytes before the
// line feed. False when a read fails or the line does not fit.
bool ReadFileLine(std::FILE* file, char* buffer, size_t capacity, size_t& length);

// Reads an image file. dataList must be empty; expectedTotal is added to.
// UPD_OK, UPD_FILE_OPEN_FAILED, UPD_READ_FAILED, UPD_NO_MEMORY, UPD_BAD_IMAGE.
UpdateStatus ReadRCPFile(CCommDialog* panel, const std::string& path, ImageRecord* header,
                         ImageRecord** dataList, ImageRecord* count, ImageRecord* termination,
                         uint32_t* expectedTotal);

// Write the record (splitting a data record at a 64 KB boundary where the kind
// calls for it) and update the progress line. UPD_OK, UPD_SPLIT_AT_64K,
// UPD_NO_MEMORY, UPD_ABORTED when the port write failed.
UpdateStatus SendRCPRecord(CCommDialog* panel, ImageRecord* record, uint32_t expectedTotal,
                           uint32_t* sent);
UpdateStatus SendVTCRecord(CCommDialog* panel, ImageRecord* record, uint32_t expectedTotal,
                           uint32_t* sent);

// Writes checksum and CR LF behind the data of a record whose byteCount is set.
void SetRecordChecksum(ImageRecord* record);
// Fills record with the count record "S505%08X" + checksum + CR LF (16 bytes).
void MakeCountRecord(ImageRecord* record, uint32_t count);
void FreeRecordList(ImageRecord* first);

// Throughput figures per image kind, shared by all ports.
struct ThroughputFigures {
  uint32_t milliseconds = 0;
  uint32_t bytes = 0;
  uint32_t lastRate = 0;
};
