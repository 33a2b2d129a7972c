// Everything the simulated scanner loader prints, in one place: the banner,
// the board text, the menu, the prompt of every menu key, the memory dump and
// the completion texts. The program recognises the loader's answers by texts
// found anywhere in its output, so each text here carries the words of its
// own step and none of another step's (the menu, for one, says "Memory
// display" rather than the dump prompt's word). The program examines what it
// has received only after every so many new bytes (as many as its longest
// awaited text), so every answer goes on for a line after its last awaited
// text; an answer that stopped right behind it could go unseen. Used by
// ScannerSim and by the tests that check exactly that.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scanner::texts {

// "\r\nQZ6 Boot Loader version 2.3.4 Build 1203\r\n"
std::string Banner(char familyDigit, int major, int minor, int patch, int build);
// MV2: "Board MV2 version 4.9 - Loader ready\r\n"; without the version:
// "Board MV2 - Loader ready\r\n".
std::string BoardText(int major, int minor, bool withVersion);
// The main menu; its title line holds "Loader menu". mv2 chooses the keys of
// the second-generation boards, dumpKey is "4" or "7" by loader version.
std::string Menu(bool mv2, char dumpKey);

extern const char kCpldMenu[];        // after "3" on first-generation boards
extern const char kCpldExecute[];     // after "1" in the CPLD menu
extern const char kFpgaPrompt[];      // after "3" on MV2
extern const char kDspQuestion[];     // after "9"
extern const char kDspReady[];        // after "y" to the DSP question
extern const char kDspRamError[];     // after "y" when the DSP RAM test fails
extern const char kDspCancelled[];    // after any other answer
extern const char kUimPrompt[];       // after "8"
extern const char kImagePrompt[];     // after "1" (and after "y" to the store question)
extern const char kStoreQuestion[];   // after "1" when the Image Store Area holds data
extern const char kStoreErased[];     // after "y" to the store question, before the image prompt
extern const char kDownloadAborted[]; // after "n" to the store question, before the menu
extern const char kLoaderPrompt[];    // after "a"
extern const char kDumpPrompt[];      // after "4" / "7": asks for the start address
extern const char kEndAddressPrompt[];// after the start address and CR
extern const char kBadAddress[];      // an address that is not hexadecimal, or a bad range
extern const char kFpgaDone[];        // FPGA written
extern const char kFpgaFailed[];      // FPGA fault: no "Done!"
extern const char kDspDone[];         // DSP flash written
extern const char kDspFailed[];       // DSP fault: no "DONE"
extern const char kUimStored[];       // UIM agent written (the menu follows)
extern const char kFlashComplete[];   // image block or loader written
extern const char kFlashFailed[];     // fault: no "Write flash complete"
extern const char kNewLogicActive[];  // after the banner that follows a CPLD restart
extern const char kExit[];            // after "x"
extern const char kUnknownKey[];      // any key the menu does not know

// The dump of bytes read from start on: lines "0000ffc0 00 11 ... ff \r\n"
// of up to 16 bytes, each byte a two-character piece between blanks (a blank
// also before the line end, so the last byte of a line stands alone), then
// the line "end 00010000\r\n" with end as eight lower-case digits. The word
// before the end address keeps the last line end from standing alone between
// two blanks, where it would read as one more byte.
std::string DumpText(uint32_t start, const std::vector<uint8_t>& bytes, uint32_t end);

// Noise of the same length as text (line ends kept), made only of
// punctuation, so it can hold no text the program waits for.
std::string Garbage(const std::string& text, uint32_t& seed);

// Every text the program waits for somewhere in the dialogue.
const std::vector<std::string>& AwaitedTexts();

}  // namespace scanner::texts
