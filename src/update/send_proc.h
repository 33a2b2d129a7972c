// sendProc: the programming thread of a port. Identifies the scanner (or
// reuses the identification), takes the run's copy of the settings for the
// scanner's family, runs the firmware steps of that family in order, reports
// the outcome, waits for the scanner to be switched off and gives the panel
// back to the operator. The main window gives it to a panel as the
// programming routine of a press of the port button.
#pragma once

#include "link/update_status.h"
#include "update/run_settings.h"

class CCommDialog;

int sendProc(CCommDialog* panel, const CRunSettingsSource& settings);

// The firmware steps of one run (RCP, VTC, then FPGA and UIM or CPLD and DSP,
// then LDR), each only if configured and every earlier step succeeded.
// Called by sendProc once the scanner is identified; its result becomes the
// run's result.
UpdateStatus RunProgrammingSteps(CCommDialog* panel, const RunSettings& run);
