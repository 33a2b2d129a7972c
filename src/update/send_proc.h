// sendProc: the programming thread of a port. Identifies the scanner (or
// reuses the identification), runs the firmware steps of its family in order,
// reports the outcome, waits for the scanner to be switched off and gives the
// panel back to the operator.
#pragma once

class CCommDialog;

int sendProc(CCommDialog* panel);

#include "update/update_status.h"

// The firmware steps of one run (RCP, VTC, then FPGA and UIM or CPLD and DSP,
// then LDR), each only if configured and every earlier step succeeded.
// Called by sendProc once the scanner is identified; its result becomes the
// run's result.
UpdateStatus RunProgrammingSteps(CCommDialog* panel);
