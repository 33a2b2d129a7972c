// The loader image splice: the scanner's 64-byte special block (serial number
// and the scanner's own data) spliced into a new loader's S-record text as S3
// records, with the count record raised to match; and the sending of the
// spliced image from memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "firmware/file_access.h"
#include "update/update_status.h"

class CCommDialog;

// Where the special block lives: 0x1FFC0 on MV2 (family 2), 0xFFC0 otherwise.
uint32_t SpecialBlockBase(int family);

// Splices block (blockLength bytes) into image. On UPD_OK image holds the
// spliced text; on failure it is unchanged. UPD_OK, UPD_NO_MEMORY,
// UPD_NO_IMAGE_END, UPD_NO_IMAGE_DATA. No message box.
UpdateStatus InsertSpecialBlock(CCommDialog* panel, FileBuffer& image, const uint8_t* block,
                                size_t blockLength);

// Sends the image in blocks of up to 100 bytes with the "LDR <n> bytes ..."
// progress line, and releases it. UPD_OK, UPD_ABORTED.
UpdateStatus SendLoaderImage(CCommDialog* panel, FileBuffer& image);
