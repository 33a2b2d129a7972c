// The sending half of the firmware files: a raw file streamed to the scanner
// from the copy taken whole first, the spliced loader image sent from memory,
// and the turning of a reader's fault into the port's error box. Called by the
// update engines on a port's programming thread.
#pragma once

#include <string>

#include "firmware/file_access.h"
#include "firmware/read_fault.h"
#include "link/update_status.h"

class PortSession;
class RunReporter;

// Shows the fault's text (if any) in an error box captioned with the port
// name and returns its result: the box the reader's caller shows.
UpdateStatus ShowReadFault(RunReporter& reporter, const ReadFault& fault);

// Takes the raw file whole into memory and streams that copy in blocks of up
// to 100 bytes; after every block the status line shows "<label> <n>KB <rate>
// bytes/sec <pct>%" and the progress bar (range 0..1000) the share sent. What
// the file does after it was taken (shrinks, grows, is replaced) changes
// nothing that is sent. sha256, when given, gets the digest of the bytes sent
// on UPD_OK. UPD_OK, UPD_ABORTED (the abort request, or a port write that
// failed: the port was closed or is gone), UPD_READ_FAILED,
// UPD_FILE_SIZE_ERROR, UPD_FILE_OPEN_FAILED, UPD_NO_MEMORY; the reading
// faults in a box.
UpdateStatus SendFile(PortSession& session, RunReporter& reporter, const std::string& path, const char* label,
                      std::string* sha256 = nullptr);

// Streams bytes (a raw file's copy) as SendFile does, the status line and
// progress bar following every block. UPD_OK, UPD_ABORTED.
UpdateStatus SendFileCopy(PortSession& session, RunReporter& reporter, const FileBuffer& copy, const char* label);

// Sends the image in blocks of up to 100 bytes with the "LDR <n> bytes ..."
// progress line, and releases it on every path. UPD_OK, UPD_ABORTED (the
// abort request, or a port write that failed because the port was closed or
// is gone).
UpdateStatus SendLoaderImage(PortSession& session, RunReporter& reporter, FileBuffer& image);
