#include "update/send_proc.h"

// Placeholder until the component engines land: a run with no step configured.
UpdateStatus RunProgrammingSteps(CCommDialog*) { return UPD_OK; }
