// sendProc: the programming thread of a port. Identifies the scanner (or
// reuses the identification), takes the run's copy of the settings for the
// scanner's family, runs the firmware steps of that family in order, reports
// the outcome, waits for the scanner to be switched off and gives the panel
// back to the operator. The main window gives it to a panel as the
// programming routine of a press of the port button.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/scanner_family.h"
#include "link/update_status.h"
#include "update/run_record.h"
#include "update/run_settings.h"

class CCommDialog;

// The run's record goes to recorder (when given) once its outcome is known.
int sendProc(CCommDialog* panel, const CRunSettingsSource& settings,
             CRunRecorder* recorder = nullptr);

// The firmware steps of one run (RCP, VTC, then FPGA and UIM or CPLD and DSP,
// then LDR), each only if configured and every earlier step succeeded.
// Called by sendProc once the scanner is identified; its result becomes the
// run's result. Every step begun (or refused) is added to record's
// components (when given), with its file, the file's size, its outcome and
// the digest of what was written; after a failed step, every configured step
// that was not reached follows.
UpdateStatus RunProgrammingSteps(CCommDialog* panel, const RunSettings& run,
                                 RunRecord* record = nullptr);

// Bytes of the RCP file's decoded header tag that the sequence reads.
constexpr size_t kRcpHeaderBytes = 256;
// Whether an RCP file whose decoded header tag (kRcpHeaderBytes bytes) is
// header may go to a scanner of the family: the family's own tag ("QZ6" for
// QZ600, "RCPMV2" for MV2), or none of the others' (QZ500).
bool RcpSuitsFamily(const uint8_t* header, ScannerFamily family);
// The model text of a family in the sequence's texts: "QZ500", "QZ600",
// "QZ7,QZ6-NextGen".
const char* ModelText(ScannerFamily family);
// The warning that refuses an RCP file for a scanner of the family.
std::string RcpRefusalText(ScannerFamily family);
