// RunSettings: the files and options of one programming run, copied from the
// station's settings for the family of the scanner the run's panel
// identified. The run decides everything from this copy, so a Setup change
// while a run is going cannot mix files of two configurations, and a scanner
// of another family on another port cannot change what this run sends.
//
// CRunSettingsSource: where a run takes the copy from. The main window
// provides it; sendProc takes the copy once the scanner is identified.
#pragma once

#include <string>

#include "link/scanner_family.h"

struct RunSettings {
  ScannerFamily family = ScannerFamily::kNone;
  int boardVersion = 0;  // MV2: the board version the loader file was chosen by
  // The version of the loader the scanner runs (a.b.c as a * 10000 + b * 100
  // + c), from its identification: chooses the memory dump's key.
  int loaderVersion = 0;
  // The firmware files of the family; empty where a component is not
  // configured or does not exist on the family.
  std::string rcpFile;
  std::string vtcFile;
  std::string fpgaFile;  // MV2
  std::string uimFile;   // MV2
  std::string cpldFile;  // first generation
  std::string dspFile;   // first generation
  std::string ldrFile;   // MV2: by board version
  // [Common] options.
  bool leaveImages = false;
  bool permitLoaderOverwrite = false;
  bool preserveSerialNumber = true;
};

class CRunSettingsSource {
 public:
  // A copy of the settings for a scanner of this family and board version.
  virtual RunSettings TakeRunSettings(ScannerFamily family, int boardVersion) const = 0;

 protected:
  ~CRunSettingsSource() = default;
};
