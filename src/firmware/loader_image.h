// The loader image splice: the scanner's 64-byte special block (serial number
// and the scanner's own data) spliced into a new loader's S-record text as S3
// records, with the count record raised to match, so the scanner keeps its
// own data across a loader update; and the sending of the spliced image from
// memory. Called by the loader update (UpdateLDR) on the port's programming
// thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "firmware/file_access.h"
#include "link/update_status.h"

class PortSession;
class RunReporter;

// Data bytes per inserted S3 record.
constexpr size_t kSpecialRecordBytes = 28;

// Bytes of the scanner's special block.
constexpr size_t kSpecialBlockBytes = 64;

// Where the special block lives: 0x1FFC0 on MV2 (family 2), 0xFFC0 otherwise.
uint32_t SpecialBlockBase(int family);

// Splices block (blockLength bytes) into image at the place of the family of
// the run (the scanner the panel identified). The image's own bytes in the
// block's range (blockLength bytes from SpecialBlockBase) are left out, so
// that they cannot overwrite the block in the scanner's flash: a data record
// inside the range goes, one that reaches into it is cut to its parts outside
// the range (two records when it covers the range), and the count record
// counts the records then in the image. On UPD_OK image holds the spliced
// text (the old text is released); on failure it is unchanged.
//   UPD_NO_MEMORY      no room for the spliced image
//   UPD_NO_IMAGE_END   no place for the block: neither an S5 nor an S7 record
//                      (MV2: nor an S3 record above the block's base, before
//                      the first line that is not a record; shown in an
//                      error box)
//   UPD_NO_IMAGE_DATA  MV2: no S3 record ahead of the block's place
//   UPD_BAD_IMAGE      shown in an error box: a count record that is not
//                      sound, or whose new count leaves its 32 bits; a data
//                      record whose address or byte count is not readable
//                      hex; a data record that reaches into the block's range
//                      but is not sound or runs past the addresses of its type
// The other results show no message; the loader update reports them.
UpdateStatus InsertSpecialBlock(RunReporter& reporter, int family, FileBuffer& image,
                                const uint8_t* block, size_t blockLength);

// The line (1-based) of the image's first data record whose bytes reach into
// the special block's range of the family (blockLength bytes from
// SpecialBlockBase): the first record the splice cuts or leaves out. 0 when
// there is none. Lets the pre-flight check say so before a run.
unsigned FirstLineInSpecialBlock(const FileBuffer& image, int family,
                                 size_t blockLength = kSpecialBlockBytes);

// Sends the image in blocks of up to 100 bytes with the "LDR <n> bytes ..."
// progress line, and releases it on every path. UPD_OK, UPD_ABORTED (the
// abort request, or a port write that failed because the port was closed or
// is gone).
UpdateStatus SendLoaderImage(PortSession& session, RunReporter& reporter, FileBuffer& image);
