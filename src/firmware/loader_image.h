// The loader image splice: the scanner's 64-byte special block (serial number
// and the scanner's own data) spliced into a new loader's S-record text as S3
// records, with the count record raised to match, so the scanner keeps its
// own data across a loader update. Called by the loader update (UpdateLDR) on
// the port's programming thread, which sends the spliced image and shows the
// splice's faults, and by the pre-flight check, which asks whether an image
// has a place for the block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "firmware/file_access.h"
#include "firmware/read_fault.h"
#include "link/scanner_family.h"
#include "link/update_status.h"

// Data bytes per inserted S3 record.
constexpr size_t kSpecialRecordBytes = 28;

// Bytes of the scanner's special block.
constexpr size_t kSpecialBlockBytes = 64;

// Where the special block lives on a scanner of the family (0x1FFC0 on MV2,
// 0xFFC0 on the first generation).
uint32_t SpecialBlockBase(ScannerFamily family);

// Splices block (blockLength bytes) into image at the place of the family of
// the run (the scanner identified). The image's own bytes in the
// block's range (blockLength bytes from SpecialBlockBase) are left out, so
// that they cannot overwrite the block in the scanner's flash: a data record
// inside the range goes, one that reaches into it is cut to its parts outside
// the range (two records when it covers the range), and the count record
// counts the records then in the image. On UPD_OK image holds the spliced
// text (the old text is released); on failure it is unchanged.
//   UPD_NO_MEMORY      no room for the spliced image
//   UPD_NO_IMAGE_END   no place for the block: neither an S5 nor an S7 record
//                      (MV2: nor an S3 record above the block's base, before
//                      the first line that is not a record; with a text)
//   UPD_NO_IMAGE_DATA  MV2: no S3 record ahead of the block's place
//   UPD_BAD_IMAGE      with a text: a count record that is not
//                      sound, or whose new count leaves its 32 bits; a data
//                      record whose address or byte count is not readable
//                      hex; a data record that reaches into the block's range
//                      but is not sound or runs past the addresses of its type
// The other results have no text; the loader update reports them.
ReadFault InsertSpecialBlock(ScannerFamily family, FileBuffer& image, const uint8_t* block,
                             size_t blockLength);

// What InsertSpecialBlock would hand back for image, found without splicing
// (UPD_OK when the image has a place for the block): the same walk over its
// lines, without the copy of the image.
ReadFault CheckSpecialBlockPlace(const FileBuffer& image, ScannerFamily family,
                                 size_t blockLength = kSpecialBlockBytes);

// The line (1-based) of the image's first data record whose bytes reach into
// the special block's range of the family (blockLength bytes from
// SpecialBlockBase): the first record the splice cuts or leaves out. 0 when
// there is none. Lets the pre-flight check say so before a run.
unsigned FirstLineInSpecialBlock(const FileBuffer& image, ScannerFamily family,
                                 size_t blockLength = kSpecialBlockBytes);
