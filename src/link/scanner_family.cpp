#include "link/scanner_family.h"

namespace {

constexpr const char* kPldRestartText = "PLD programming!  Wait for auto-connect";
constexpr const char* kFpgaRestartText = "FPGA programming!  Wait for auto-connect";

constexpr ScannerFamilyRow kFamilies[] = {
    {
        .family = ScannerFamily::kQZ500,
        .name = "QZ500",
        .modelText = "QZ500",
        .article = "a",
        .bannerDigit = '5',
        .loaderMajorFrom = 0,
        .iniSection = "QZ6",
        .secondGeneration = false,
        .rcpTag = nullptr,
        .rcpInBlocks = true,
        .specialBlockBase = 0xFFC0,
        .dumpAddressDigits = 4,
        .loaderKeepsSpecialBlock = false,
        .restartText = kFpgaRestartText,
    },
    {
        .family = ScannerFamily::kQZ600,
        .name = "QZ600",
        .modelText = "QZ600",
        .article = "a",
        .bannerDigit = '6',
        .loaderMajorFrom = 0,
        .iniSection = "QZ6",
        .secondGeneration = false,
        .rcpTag = "QZ6",
        .rcpInBlocks = false,
        .specialBlockBase = 0xFFC0,
        .dumpAddressDigits = 4,
        .loaderKeepsSpecialBlock = true,
        .restartText = kPldRestartText,
    },
    {
        .family = ScannerFamily::kMV2,
        .name = "MV2",
        .modelText = "QZ7,QZ6-NextGen",
        .article = "an",
        .bannerDigit = '\0',
        .loaderMajorFrom = 3,
        .iniSection = "MV2",
        .secondGeneration = true,
        .rcpTag = "RCPMV2",
        .rcpInBlocks = false,
        .specialBlockBase = 0x1FFC0,
        .dumpAddressDigits = 5,
        .loaderKeepsSpecialBlock = true,
        .restartText = kFpgaRestartText,
    },
};

// Before a scanner is identified. The model text is the one the sequence
// falls back to for a scanner it cannot name.
constexpr ScannerFamilyRow kUnidentified{
    .family = ScannerFamily::kNone,
    .name = "",
    .modelText = "QZ7,QZ6-NextGen",
    .article = "a",
    .bannerDigit = '\0',
    .loaderMajorFrom = 0,
    .iniSection = "QZ6",
    .secondGeneration = false,
    .rcpTag = nullptr,
    .rcpInBlocks = false,
    .specialBlockBase = 0xFFC0,
    .dumpAddressDigits = 4,
    .loaderKeepsSpecialBlock = false,
    .restartText = kFpgaRestartText,
};

}  // namespace

std::span<const ScannerFamilyRow> ScannerFamilies() { return kFamilies; }

const ScannerFamilyRow& FamilyRow(ScannerFamily family) {
  for (const ScannerFamilyRow& row : kFamilies) {
    if (row.family == family) return row;
  }
  return kUnidentified;
}

ScannerFamily FamilyOfBannerDigit(char digit) {
  for (const ScannerFamilyRow& row : kFamilies) {
    if (row.bannerDigit != '\0' && row.bannerDigit == digit) return row.family;
  }
  return ScannerFamily::kNone;
}

ScannerFamily FamilyOfLoaderMajor(int major) {
  for (const ScannerFamilyRow& row : kFamilies) {
    if (row.loaderMajorFrom > 0 && major >= row.loaderMajorFrom) return row.family;
  }
  return ScannerFamily::kNone;
}
