// The update engines: one per firmware component. Each drives the scanner
// loader's menu on the panel's port, streams its file and waits for the
// loader's completion text. Called by sendProc on the port's programming thread.
#pragma once

#include <cstdint>

#include "update/update_status.h"

class CCommDialog;

UpdateStatus UpdateRCP(CCommDialog* panel);
UpdateStatus UpdateVTC(CCommDialog* panel);
UpdateStatus StartRCPDownload(CCommDialog* panel, bool firstBlock);
UpdateStatus StartVTCDownload(CCommDialog* panel, bool firstBlock);
UpdateStatus UpdateFPGA(CCommDialog* panel);
UpdateStatus UpdateUIM(CCommDialog* panel);
UpdateStatus UpdateCPLD(CCommDialog* panel);
UpdateStatus UpdateDSP(CCommDialog* panel);
UpdateStatus UpdateLDR(CCommDialog* panel);
// Reads the special block through the loader's memory dump.
UpdateStatus GetSpecialBlock(CCommDialog* panel, uint8_t* bytes, unsigned limit, unsigned* count);
