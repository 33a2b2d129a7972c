// The update engines: one per firmware component. Each drives the scanner
// loader's menu on the panel's port, streams its file and waits for the
// loader's completion text. Called by sendProc on the port's programming
// thread; each takes its file, its options and the scanner's family from the
// run's copy of the settings.
#pragma once

#include <cstdint>

#include "link/scanner_family.h"
#include "link/update_status.h"
#include "update/run_settings.h"
#include "update/step_report.h"

class CCommDialog;

// Boxes of the engines that a check of the files before a run shows too.
inline constexpr const char* kRcpIncompleteText =
    "RCP Update: The file lacks its header, count or termination record";
inline constexpr const char* kVtcIncompleteText =
    "VTC Update: The file lacks its header or termination record";
inline constexpr const char* kLoaderSpliceFailedText = "Loader Update: Read block failed";

// Each engine comes in two forms: with a report (the programming sequence's,
// for the run's record: declined or not, and the digest of what was sent)
// and without one.
UpdateStatus UpdateRCP(CCommDialog* panel, const RunSettings& run, StepReport& report);
UpdateStatus UpdateRCP(CCommDialog* panel, const RunSettings& run);
UpdateStatus UpdateVTC(CCommDialog* panel, const RunSettings& run, StepReport& report);
UpdateStatus UpdateVTC(CCommDialog* panel, const RunSettings& run);
// The loader menu's download function. When the Image Store Area holds data,
// the first block overwrites it only with leaveImages; later blocks always go on.
UpdateStatus StartRCPDownload(CCommDialog* panel, bool firstBlock, bool leaveImages);
UpdateStatus StartVTCDownload(CCommDialog* panel, bool firstBlock, bool leaveImages);
UpdateStatus UpdateFPGA(CCommDialog* panel, const RunSettings& run, StepReport& report);
UpdateStatus UpdateFPGA(CCommDialog* panel, const RunSettings& run);
UpdateStatus UpdateUIM(CCommDialog* panel, const RunSettings& run, StepReport& report);
UpdateStatus UpdateUIM(CCommDialog* panel, const RunSettings& run);
UpdateStatus UpdateCPLD(CCommDialog* panel, const RunSettings& run, StepReport& report);
UpdateStatus UpdateCPLD(CCommDialog* panel, const RunSettings& run);
UpdateStatus UpdateDSP(CCommDialog* panel, const RunSettings& run, StepReport& report);
UpdateStatus UpdateDSP(CCommDialog* panel, const RunSettings& run);
UpdateStatus UpdateLDR(CCommDialog* panel, const RunSettings& run, StepReport& report);
UpdateStatus UpdateLDR(CCommDialog* panel, const RunSettings& run);
// Reads the special block through the loader's memory dump, over the range
// where a scanner of the family keeps it.
UpdateStatus GetSpecialBlock(CCommDialog* panel, ScannerFamily family, uint8_t* bytes, unsigned limit,
                             unsigned* count);
// Takes up to limit bytes from the dump text that GetSpecialBlock captured
// between its address markers (zero-terminated). UPD_OK with count set, or
// UPD_BAD_DUMP when the text does not begin with a two-character byte.
UpdateStatus DecodeDump(const char* text, uint8_t* bytes, unsigned limit, unsigned* count);
