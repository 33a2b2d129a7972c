// The firmware steps of one programming run and the checks of the sequence
// that decide whether a step may go to the identified scanner. Called by
// sendProc once the scanner is identified; the checks also by the file check
// before a run (app/preflight).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/scanner_identity.h"
#include "link/update_status.h"
#include "update/run_record.h"
#include "update/run_settings.h"

class PortSession;
class RunReporter;

// The firmware steps of one run (RCP, VTC, then FPGA and UIM or CPLD and DSP,
// then LDR), each only if configured and every earlier step succeeded.
// Called by sendProc once the scanner is identified; its result becomes the
// run's result. Every step begun (or refused) is added to record's
// components (when given), with its file, the file's size, its outcome and
// the digest of what was written; after a failed step, every configured step
// that was not reached follows.
// identity is the scanner's as the run identified it; the identifications
// the sequence makes after the logic device's update bring it up to date.
UpdateStatus RunProgrammingSteps(PortSession& session, RunReporter& reporter,
                                 const RunSettings& run, ScannerIdentity& identity,
                                 RunRecord* record = nullptr);

// Bytes of the RCP file's decoded header tag that the sequence reads.
constexpr size_t kRcpHeaderBytes = 256;
// Whether an RCP file whose decoded header tag (kRcpHeaderBytes bytes) is
// header may go to a scanner of the family: "QZ6" for QZ600, "RCPMV2" for
// MV2, neither for QZ500.
bool RcpSuitsFamily(const uint8_t* header, ScannerFamily family);
// The model text of a family in the sequence's texts: "QZ500", "QZ600",
// "QZ7,QZ6-NextGen".
const char* ModelText(ScannerFamily family);
// The warning that refuses an RCP file for a scanner of the family.
std::string RcpRefusalText(ScannerFamily family);
