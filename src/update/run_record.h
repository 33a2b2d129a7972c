// RunRecord: what one programming run did to one scanner, for the station's
// result record (results.csv): when it started, which scanner it found, the
// serial-number block it read, which files it wrote and how it ended. Filled
// by the programming thread while the run goes and handed to the run's
// recorder when the outcome is known; a plain value, copied freely.
//
// CRunRecorder: where a finished run's record goes. The main window
// provides it; sendProc calls it on the run's own thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/scanner_family.h"
#include "platform/time.h"

// What became of one component of a run.
enum class ComponentOutcome {
  kWritten,     // sent whole and taken by the loader
  kDeclined,    // the loader declined the download (Image Store question
                // answered "n"); nothing was written
  kFailed,      // the step failed after it began, or the sequence refused it
                // (an RCP image for another family, a loader without permission)
  kNotReached,  // configured, but an earlier step failed and it never began
};

// "written", "declined", "failed", "not reached".
const char* ComponentOutcomeText(ComponentOutcome outcome);

struct RunComponent {
  std::string name;   // "RCP", "VTC", "FPGA", "UIM", "CPLD", "DSP", "LDR"
  std::string file;   // the path as configured
  uint64_t size = 0;  // bytes of the file when the step began (or was passed by)
  ComponentOutcome outcome = ComponentOutcome::kWritten;
  std::string sha256;  // lower-case hex digest of the bytes sent; written components only
};

struct RunRecord {
  platform::LocalTime start{};  // local date and time the programming began
  std::string port;             // COM3, ZEV2: the port name without the device prefix
  ScannerFamily family = ScannerFamily::kNone;
  int loaderVersion = 0;        // a.b.c as a * 10000 + b * 100 + c
  int boardVersion = 0;         // MV2: a.b as a * 10 + b
  std::vector<uint8_t> specialBlock;     // the serial-number block; empty when not read
  // Every step begun, in order, each with its outcome; after a failed one,
  // every configured step of the family's sequence that was not reached.
  std::vector<RunComponent> components;
  int result = 0;                        // the run's UpdateStatus
  std::string outcome;                   // the outcome text of the status line
  uint32_t durationMs = 0;               // from the start to the outcome
};

class CRunRecorder {
 public:
  // Called once per run that began programming, when its outcome is known.
  virtual void RecordRun(const RunRecord& record) = 0;

 protected:
  ~CRunRecorder() = default;
};
