// The simulated loader's texts.
#include "loader_texts.h"

#include <cstdio>

namespace scanner::texts {

std::string Banner(char familyDigit, int major, int minor, int patch, int build) {
  char text[128];
  std::snprintf(text, sizeof text, "\r\nQZ%c Boot Loader version %d.%d.%d Build %d\r\n", familyDigit,
                major, minor, patch, build);
  return text;
}

std::string BoardText(int major, int minor, bool withVersion) {
  if (!withVersion) return "Board MV2 - Loader ready\r\n";
  char text[96];
  std::snprintf(text, sizeof text, "Board MV2 version %d.%d - Loader ready\r\n", major, minor);
  return text;
}

std::string Menu(bool mv2, char dumpKey) {
  std::string menu = "\r\n=== Loader menu ===\r\n1  Image download\r\n";
  if (mv2) {
    menu += "3  FPGA\r\n";
    menu += std::string(1, dumpKey) + "  Memory display\r\n";
    menu += "8  UIM agent\r\n";
  } else {
    menu += "3  CPLD\r\n";
    menu += std::string(1, dumpKey) + "  Memory display\r\n";
    menu += "9  DSP flash\r\n";
  }
  menu += "a  Loader image\r\nx  Exit\r\n> ";
  return menu;
}

const char kCpldMenu[] = "\r\nCPLD update menu\r\n1  Execute programming\r\nq  Quit to the main menu\r\n> ";
const char kCpldExecute[] =
    "\r\nExecute: waiting to receive the CPLD file\r\nThe scanner restarts when it is written\r\n";
const char kFpgaPrompt[] = "\r\nFPGA Update: ESC to abort\r\nWaiting for the configuration file\r\n";
const char kDspQuestion[] = "\r\nProgramming DSP Flash\r\nErase the DSP flash (y/n)? ";
const char kDspReady[] = "\r\nDSP flash erased. Ready to receive\r\nWaiting for the DSP code file\r\n";
const char kDspRamError[] = "\r\nRAM Error\r\n";
const char kDspCancelled[] = "\r\nCancelled\r\n";
const char kUimPrompt[] = "\r\nUIM Agent Update: ESC to abort\r\nWaiting for the agent file\r\n";
const char kImagePrompt[] =
    "\r\nImage download: waiting to receive, send the records\r\nThe byte 0xFF ends the block\r\n";
const char kStoreQuestion[] =
    "\r\nThe Image Store Area holds data, which will be lost.\r\nProceed and erase the Image Store "
    "Area (y/n)? ";
const char kStoreErased[] = "\r\nImage Store Area erased.";
const char kDownloadAborted[] = "\r\nDownload aborted\r\n";
const char kLoaderPrompt[] =
    "\r\nLoader update (the Special block is kept): waiting to receive the image\r\nThe byte 0xFF "
    "ends it\r\n";
const char kDumpPrompt[] = "\r\nMemory Dump, addresses in hex like 0x1234abcd\r\nStart Address: ";
const char kEndAddressPrompt[] = "\r\nEnd Address (hex like 0xabcd1234), not shown itself\r\nEnd: ";
const char kBadAddress[] = "\r\nBad address\r\n";
const char kFpgaDone[] = "\r\nFPGA configured. Done!\r\n";
const char kFpgaFailed[] = "\r\nFPGA configuration failed\r\n";
const char kDspDone[] = "\r\nDSP flash written. DONE\r\n";
const char kDspFailed[] = "\r\nDSP flash verify failed\r\n";
const char kUimStored[] = "\r\nUIM agent stored.\r\n";
const char kFlashComplete[] = "\r\nWrite flash complete\r\n";
const char kFlashFailed[] = "\r\nWrite flash failed\r\n";
const char kNewLogicActive[] = "New logic active: switch the scanner off and on\r\n";
const char kExit[] = "\r\nStarting the scanner\r\n";
const char kUnknownKey[] = "\r\nUnknown key\r\n> ";

std::string DumpText(uint32_t start, const std::vector<uint8_t>& bytes, uint32_t end) {
  std::string text;
  char piece[16];
  for (size_t i = 0; i < bytes.size(); i += 16) {
    std::snprintf(piece, sizeof piece, "%08x", static_cast<unsigned>(start + i));
    text += piece;
    for (size_t j = i; j < bytes.size() && j < i + 16; ++j) {
      std::snprintf(piece, sizeof piece, " %02x", bytes[j]);
      text += piece;
    }
    text += " \r\n";
  }
  std::snprintf(piece, sizeof piece, "end %08x\r\n", static_cast<unsigned>(end));
  text += piece;
  return text;
}

std::string Garbage(const std::string& text, uint32_t& seed) {
  static const char kNoise[] = "#%&()+,-;<=>?@[]^_{|}~";
  std::string out = text;
  for (char& c : out) {
    if (c == '\r' || c == '\n') continue;
    seed = seed * 1664525u + 1013904223u;
    c = kNoise[(seed >> 16) % (sizeof kNoise - 1)];
  }
  return out;
}

const std::vector<std::string>& AwaitedTexts() {
  static const std::vector<std::string> texts = {
      "QZ", "Build", "version", "Board", "Loader", "CPLD update menu", "Execute", "receive",
      "FPGA Update", "abort", "Programming DSP Flash", "Ready", "RAM Error", "UIM Agent Update",
      "send", "lost", "Proceed", "aborted", "Loader menu", "Special", "Dump", "0x1234abcd",
      "End Address", "0xabcd1234", "Done!", "DONE", "Write flash complete"};
  return texts;
}

}  // namespace scanner::texts
