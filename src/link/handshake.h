// The scanner handshake: wake the loader, read its banner and learn the
// scanner's identity (family, loader version, MV2 board version). Called by
// the programming thread and by a USB panel's connect thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/scanner_identity.h"
#include "link/update_status.h"

class PortSession;
class RunReporter;

// What a loader's banner (the text between "QZ" and "Build") tells.
struct BannerFacts {
  // The family the banner names: its model digit ('5', '6'), or MV2 for a
  // loader from 3.0.0 on whatever its digit; kNone when it names none.
  ScannerFamily family = ScannerFamily::kNone;
  // The banner carries "version": the scanner is identified.
  bool identified = false;
  // Loader version a.b.c as a * 10000 + b * 100 + c, held within int.
  int loaderVersion = 0;
};
// Reads the banner's first length bytes (they may hold zero bytes).
BannerFacts ReadBanner(const uint8_t* banner, size_t length);
// The board version a.b as a * 10 + b from an MV2 loader's board text (between
// "Board" and "Loader"); false when the text carries no "version".
bool ReadBoardVersion(const uint8_t* board, size_t length, int* boardVersion);

// The outcome of an identification and the identity it leaves.
struct Identification {
  UpdateStatus result = UPD_OK;
  ScannerIdentity identity;
};

// Wakes the loader until its banner identifies the scanner. result: UPD_OK
// once identified, UPD_ABORTED when the port is told to stop, UPD_LINK_DOWN
// when the device of the port has gone. identity starts from known (what an
// earlier identification learnt: a banner that names no family keeps the
// known one, an MV2 board text that does not come keeps the known board
// version) and is shown to the reporter each time it learns more. The
// operator text shown while the scanner is awaited follows the session's
// m_nReconnectPhase (and, for the logic device's restart, known's family).
Identification IdentifyScanner(PortSession& session, RunReporter& reporter,
                               const ScannerIdentity& known);

// Connect thread of a USB panel: identifies the scanner once and ends.
int connectProc(PortSession& session, RunReporter& reporter, const ScannerIdentity& known);
