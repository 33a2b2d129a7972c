// sendProc: the programming thread of a port. Identifies the scanner (or
// reuses the identification), takes the run's copy of the settings for the
// scanner's family, runs the firmware steps of that family in order
// (update/programming_steps.h), reports
// the outcome, waits for the scanner to be switched off and gives the panel
// back to the operator. The main window gives it to a panel as the
// programming routine of a press of the port button.
#pragma once

#include "link/scanner_identity.h"
#include "link/update_status.h"
#include "update/run_record.h"
#include "update/run_settings.h"

class PortSession;
class RunReporter;

// The run's record goes to recorder (when given) once its outcome is known.
// known is the identity of the scanner the port's panel identified last.
int sendProc(PortSession& session, RunReporter& reporter, const ScannerIdentity& known,
             const CRunSettingsSource& settings, CRunRecorder* recorder = nullptr);
