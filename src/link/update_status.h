// Result codes of the link, file and engine functions; 0 is success. They live
// with the lowest layer that returns them, so every layer above can pass them on.
#pragma once

#include <cstdint>

enum UpdateStatus : int32_t {
  UPD_OK = 0,
  UPD_FAIL_MATCH = 1,             // the failure pair of a wait was received
  UPD_TIMEOUT = 2,                // the receive ring stayed empty for the whole time-out
  UPD_BAD_ARGUMENT = 3,           // a marker text of WaitBetween is empty
  UPD_WAIT_FAILED = 4,            // the event wait returned neither event nor time-out
  UPD_ABORTED = 5,                // the exit event or the abort request ended the operation
  UPD_READ_FAILED = 6,            // a file read failed or the file ended early
  UPD_MODEM_STATUS_ERROR = 7,     // reading the modem status failed
  UPD_LINK_DOWN = 8,              // CTS or DSR is low
  UPD_FILE_SIZE_ERROR = 9,        // reading a file size failed
  UPD_FILE_OPEN_FAILED = 10,      // opening a file failed
  UPD_BAD_DUMP = 11,              // the memory dump text does not begin with a two-character byte
  UPD_NO_MEMORY = 12,             // memory allocation failed
  UPD_SHORT_BLOCK = 13,           // the special block did not arrive with 64 bytes in three dumps
  UPD_IMAGE_STORE_NOT_EMPTY = 15, // the Image Store Area holds data and the download was declined
  UPD_SPLIT_AT_64K = 16,          // an image record was split at a 64 KB boundary (not an error)
  UPD_REFUSED = 18,               // the programming sequence refused a step
  UPD_NO_HEADER = 19,             // no header tag could be decoded from a file's first record
  UPD_DSP_RAM_ERROR = 20,         // the DSP loader answered "RAM Error"
  UPD_NO_IMAGE_END = 21,          // a first-generation loader image has neither an S5 nor an S7 record
  UPD_NO_IMAGE_DATA = 22,         // an MV2 loader image has no S3 record ahead of the special block's place
  UPD_BAD_IMAGE = 23,             // an image file is malformed (bad record text); nothing was sent
  UPD_RCP_STORE_NOT_EMPTY = 995,  // a single-pass RCP download was declined: the store holds data
};
