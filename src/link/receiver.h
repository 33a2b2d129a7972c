// rcvProc: the receiver thread of a port. Moves received blocks into the ring,
// signals them and logs them; parks while the receive gate is closed; ends on
// the exit event.
#pragma once

class CCommDialog;

int rcvProc(CCommDialog* panel);
