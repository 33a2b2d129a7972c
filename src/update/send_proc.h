// sendProc: the programming thread of a port. Identifies the scanner (or
// reuses the identification), runs the firmware steps of its family in order,
// reports the outcome, waits for the scanner to be switched off and gives the
// panel back to the operator.
#pragma once

class CCommDialog;

int sendProc(CCommDialog* panel);
