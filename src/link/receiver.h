// rcvProc: the receiver thread of a port. Moves received blocks into the ring,
// signals them and logs them; parks while the receive gate is closed; ends on
// the exit event.
#pragma once

#include <cstddef>

class PortSession;
class RunReporter;

int rcvProc(PortSession& session, RunReporter& reporter);

// The most one read of the receiver asks for (16 bytes unless set; 1 to
// 4096). Process-wide, read as each receiver starts: tests and benches use it
// to hand the loader's messages over in pieces of any size, since what a
// step waits for must not depend on how the bytes were cut into reads.
void SetReceiveBlockBytes(size_t bytes);
size_t ReceiveBlockBytes();
