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

class PortSession;
class RunReporter;

// Boxes of the engines that a check of the files before a run shows too.
inline constexpr const char* kRcpIncompleteText =
    "RCP Update: The file lacks its header, count or termination record";
inline constexpr const char* kVtcIncompleteText =
    "VTC Update: The file lacks its header or termination record";
inline constexpr const char* kLoaderSpliceFailedText = "Loader Update: Read block failed";

// Each engine comes in two forms: with a report (the programming sequence's,
// for the run's record: declined or not, and the digest of what was sent)
// and without one.
UpdateStatus UpdateRCP(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report);
UpdateStatus UpdateRCP(PortSession& session, RunReporter& reporter, const RunSettings& run);
UpdateStatus UpdateVTC(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report);
UpdateStatus UpdateVTC(PortSession& session, RunReporter& reporter, const RunSettings& run);
// The loader menu's download function. When the Image Store Area holds data,
// the first block overwrites it only with leaveImages; later blocks always go on.
UpdateStatus StartRCPDownload(PortSession& session, RunReporter& reporter, bool firstBlock, bool leaveImages);
UpdateStatus StartVTCDownload(PortSession& session, RunReporter& reporter, bool firstBlock, bool leaveImages);
UpdateStatus UpdateFPGA(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report);
UpdateStatus UpdateFPGA(PortSession& session, RunReporter& reporter, const RunSettings& run);
UpdateStatus UpdateUIM(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report);
UpdateStatus UpdateUIM(PortSession& session, RunReporter& reporter, const RunSettings& run);
UpdateStatus UpdateCPLD(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report);
UpdateStatus UpdateCPLD(PortSession& session, RunReporter& reporter, const RunSettings& run);
UpdateStatus UpdateDSP(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report);
UpdateStatus UpdateDSP(PortSession& session, RunReporter& reporter, const RunSettings& run);
UpdateStatus UpdateLDR(PortSession& session, RunReporter& reporter, const RunSettings& run, StepReport& report);
UpdateStatus UpdateLDR(PortSession& session, RunReporter& reporter, const RunSettings& run);
// Reads the special block through the loader's memory dump, over the range
// where a scanner of the run's family keeps it, with the dump key of the
// run's loader version.
UpdateStatus GetSpecialBlock(PortSession& session, RunReporter& reporter, const RunSettings& run,
                             uint8_t* bytes, unsigned limit, unsigned* count);
// Takes up to limit bytes from the dump text that GetSpecialBlock captured
// between its address markers (zero-terminated). UPD_OK with count set, or
// UPD_BAD_DUMP when the text does not begin with a two-character byte.
UpdateStatus DecodeDump(const char* text, uint8_t* bytes, unsigned limit, unsigned* count);
