// The scanner families and what the station knows of each: one row per
// family. A panel's handshake reads the family from the loader's banner; every
// choice of a run that depends on the scanner (files, single pass or blocks,
// dump range, special block place, the texts that name it) is read from the
// row of the family the panel identified, never from a test of the family
// itself. Used by the handshake, the programming sequence and its engines,
// the loader image splice, the pre-flight check and the run record.
#pragma once

#include <cstdint>
#include <span>

// The family codes as the banner gives them: the model digit of a first
// generation scanner, 2 for the MV2 platform; 0 before any scanner was
// identified.
enum class ScannerFamily : int {
  kNone = 0,
  kMV2 = 2,
  kQZ500 = 5,
  kQZ600 = 6,
};

struct ScannerFamilyRow {
  ScannerFamily family;
  // The family in the run record, the summaries and the file checks.
  const char* name;
  // The scanner in the programming sequence's texts.
  const char* modelText;
  // The article before the name in running text ("a QZ600", "an MV2").
  const char* article;
  // The model digit of its banners; '\0' where the loader version names it.
  char bannerDigit;
  // Loaders from this major version on run only on this family, whatever
  // digit their banner carries; 0 where none do.
  int loaderMajorFrom;
  // The settings section of its firmware files.
  const char* iniSection;
  // The MV2 platform: the loader sends a board text after its banner, the
  // loader file goes by board version, the logic is an FPGA with a UIM agent
  // after it (first generation: a CPLD, then the DSP), and its loader image is
  // S3 records in address order ending at the first line that is no record.
  bool secondGeneration;
  // The tag its RCP images carry in their header; nullptr: the images carry
  // none of the other families' tags.
  const char* rcpTag;
  // Its loader takes at most 64 KB per flash write: the RCP image goes in
  // blocks cut at 64 KB, as the VTC image does for every family.
  bool rcpInBlocks;
  // Where the special block lives, and the hex digits the memory dump's
  // start address is typed and shown with.
  uint32_t specialBlockBase;
  int dumpAddressDigits;
  // Its loader image has a place for the special block, so a loader update
  // can keep the scanner's serial number.
  bool loaderKeepsSpecialBlock;
  // Shown while the scanner restarts on its own after its logic was written.
  const char* restartText;
};

// The identified families, in the order checks list them.
std::span<const ScannerFamilyRow> ScannerFamilies();

// The row of a family. A panel that has identified no scanner yet
// (kNone) gets a row that accepts no RCP image, keeps no special block and
// otherwise follows the first generation.
const ScannerFamilyRow& FamilyRow(ScannerFamily family);

// The family whose banners carry the model digit; kNone when none does.
ScannerFamily FamilyOfBannerDigit(char digit);
// The family that alone runs loaders of this major version; kNone when the
// version does not name one.
ScannerFamily FamilyOfLoaderMajor(int major);
