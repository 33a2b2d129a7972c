// ScannerIdentity: what the handshake learnt about the scanner on a port:
// whether it answered with a loader banner, its family, and the loader and
// board versions. IdentifyScanner returns it; the programming run keeps it
// for its sequence; the port panel keeps a copy to show.
#pragma once

#include "link/scanner_family.h"

struct ScannerIdentity {
  // A banner with "version" has come: the scanner is identified.
  bool identified = false;
  // The scanner's family (kNone before any).
  ScannerFamily family = ScannerFamily::kNone;
  // Loader version a.b.c as a * 10000 + b * 100 + c.
  int loaderVersion = 0;
  // MV2: board version a.b as a * 10 + b.
  int boardVersion = 0;

  bool operator==(const ScannerIdentity&) const = default;
};
