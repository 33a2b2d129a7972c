// The scanner loader simulator: stands in for a QZ500, QZ600 or MV2 scanner on
// the far end of a line. It answers the wake-up with the banner of its family
// and loader version, runs the loader's text menu for every firmware
// component, re-assembles the S-records it receives into memory and records
// everything, so tests can check that what reached the scanner is the
// firmware, byte for byte. Used by tests, benchmarks, the demo and the
// pseudo-terminal server (vantorel-simpty).
//
// The loader in short (texts in sim/loader_texts.h):
// - Switched off: CTS and DSR low, nothing is answered. Switched on: the lines
//   rise after a short boot and the loader waits for the wake-up.
// - "*" wakes it: one banner (and on MV2 the board text) and the menu per
//   burst of wake-up characters, i.e. one per "****".
// - Menu keys: "1" image download (with the Image Store Area question when
//   the store holds data), "3" CPLD menu (first generation) or FPGA (MV2),
//   "4" (loader below 1.1.1) or "7" memory dump, "8" UIM agent (MV2), "9" DSP
//   (first generation), "a" loader image, "x" leave the loader.
// - Transfers end with the byte 0xFF. S-record transfers (image blocks, the
//   loader image) cannot hold that byte, so the first 0xFF ends them. Raw
//   files (CPLD, FPGA, DSP, UIM) may: there the transfer ends at a 0xFF
//   after which the line stays quiet for rawQuietMs, or after which only the
//   wake-up "****" follows (the program waking the scanner after a CPLD
//   update, which it does without waiting for an answer). A raw file that
//   holds 0xFF followed by a pause of rawQuietMs, or by "****", is cut there.
// - After a transfer the loader writes its flash for flashWriteMs (or, for a
//   component a test holds, until the test releases it) and then reports
//   completion; after a CPLD transfer it restarts instead (CTS and DSR
//   drop for restartMs), answers the next wake-up once and then waits for its
//   power to be cycled.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sparse_memory.h"

namespace platform::sim {
class SimLine;
}

namespace scanner {

class ScannerTransport;

// The firmware components, as the loader files what it received.
enum class Component { kCpld, kFpga, kDsp, kUim, kRcp, kVtc, kLdr };
const char* ComponentName(Component component);  // "CPLD", "FPGA", ...

// Where the loader's dialogue stands.
enum class LoaderState {
  kOff,                // switched off: lines low
  kBooting,            // switched on, lines not yet up
  kAwaitingWakeUp,     // lines up, the loader waits for "*"
  kMenu,               // the menu waits for a key
  kCpldMenu,           // "3" on a first-generation board: waits for "1"
  kDspQuestion,        // "9": waits for "y"
  kStoreQuestion,      // "1" with data in the Image Store Area: waits for "y" or "n"
  kDumpStartAddress,   // dump: start address until CR
  kDumpEndAddress,     // dump: end address until CR
  kReceiving,          // a transfer runs until its end byte
  kWritingFlash,       // the transfer ended, completion text pending
  kRestarting,         // after the CPLD: lines low for a moment
  kAwaitingPowerCycle, // after the CPLD restart: deaf until switched off and on
  kUnplugged,          // the line is gone
};
const char* LoaderStateName(LoaderState state);

// A fault that strikes the line at one moment of the dialogue (or when a test
// calls ScannerSim::Strike):
// - kUnplug: the line is pulled out, for good;
// - kSilence: the loader says nothing more;
// - kGarbage: a burst of noise, after which the loader carries on;
// - kRestart: the scanner restarts by itself (a brown-out): the lines drop
//   for restartMs, and the fresh loader announces itself with its banner and
//   menu, taking whatever follows as menu keys.
enum class LineFaultKind { kNone, kUnplug, kSilence, kGarbage, kRestart };
const char* LineFaultKindName(LineFaultKind kind);

// Where the fault strikes.
enum class FaultPoint {
  kWakeUp,   // at the first wake-up character
  kStream,   // inside transfer number `transfer`, after `afterBytes` of its bytes
  kEndByte,  // at the end byte of transfer number `transfer`
  kDump,     // at the request of dump number `dump`, instead of the dump
};

struct StrikeAt {
  LineFaultKind kind = LineFaultKind::kNone;
  FaultPoint point = FaultPoint::kWakeUp;
  int transfer = 1;  // every transfer the loader takes counts: 1 is the first
  int64_t afterBytes = 0;
  int dump = 1;
};

// Faults a test can give the scanner; the defaults are a healthy scanner.
struct ScannerFaults {
  bool silent = false;               // lines come up, but nothing is ever answered
  int menuDelayMs = 0;               // every answer to a key comes this late (real ms)
  bool noFpgaDone = false;           // FPGA written without "Done!"
  bool noDspDone = false;            // DSP written without "DONE"
  bool noUimMenu = false;            // UIM agent written without returning to the menu
  bool noWriteFlashComplete = false; // image blocks and loader without "Write flash complete"
  bool dspRamError = false;          // "RAM Error" in answer to the DSP question
  int shortDumps = 0;                // this many dumps show only shortDumpBytes bytes
  int shortDumpBytes = 48;
  bool boardTextWithoutVersion = false;  // MV2 board text lacks "version a.b"
  bool garbage = false;              // every answer is noise of the same length
  int64_t unplugAfterBytes = -1;     // the line is unplugged once this many bytes arrived
  StrikeAt strike;                   // one line fault at one moment
};

// Real-time behaviour (not scaled by the program's time scale).
struct ScannerTiming {
  int bootMs = 20;          // power on until CTS and DSR rise
  int wakeHoldoffMs = 250;  // "*" within this time of the last one belong to the same wake-up
  int rawQuietMs = 300;     // quiet after a 0xFF that ends a raw transfer; 0 = the first 0xFF ends it
  int flashWriteMs = 100;   // end of a transfer until its completion text
  int restartMs = 200;      // CPLD restart: how long the lines stay low
};

// How the simulated scanner behaves; the defaults are a healthy scanner.
struct ScannerConfig {
  char familyDigit = '6';      // '5' QZ500, '6' QZ600; MV2 banners say '6' with loader 3.x or later
  int major = 2, minor = 3, patch = 4;
  bool boardText = false;      // MV2: "Board ... version a.b ... Loader" after the banner
  int boardMajor = 4, boardMinor = 9;
  std::array<uint8_t, 64> specialBlock{};  // the scanner's own 64 bytes
  bool imageStoreHasData = false;          // the Image Store Area question is asked

  int build = 1203;                 // the banner's build number
  bool askStoreEveryBlock = false;  // ask the store question at every "1", data or not
  bool cpldNeedsPowerCycle = true;  // after the CPLD restart, deaf until power is cycled
  // An image download whose header record holds this text is filed as VTC,
  // any other as RCP.
  std::string vtcHeaderMark = "VTC";
  ScannerTiming timing;
  ScannerFaults faults;

  // The loader runs the second-generation (MV2) menu: loader 3.x or later.
  bool IsMv2() const { return major >= 3; }
  // Where the special block lives: 0x1FFC0 on MV2, 0xFFC0 on the others.
  uint32_t SpecialBlockAddress() const { return IsMv2() ? 0x1FFC0u : 0xFFC0u; }
  // "4" for loaders before 1.1.1, else "7".
  char DumpKey() const;

  static ScannerConfig QZ500();  // '5', loader 1.4.2
  static ScannerConfig QZ600();  // '6', loader 2.3.4
  static ScannerConfig MV2();    // '6', loader 3.1.0, board 4.9
};

// A fault found in a received S-record transfer.
struct RecordError {
  Component component;
  int block;          // 1 for the component's first transfer, 2 for the next, ...
  std::string text;   // "line 7: checksum 3A, expected 3B", "no termination record", ...
};

class ScannerSim {
 public:
  // Serves the loader on the far end of line. The scanner starts switched off
  // (CTS and DSR low).
  ScannerSim(std::shared_ptr<platform::sim::SimLine> line, ScannerConfig config);
  // Serves it on any transport (a pseudo-terminal, see scanner_transport.h).
  ScannerSim(std::unique_ptr<ScannerTransport> transport, ScannerConfig config);
  // Stops the simulator; the lines stay as they are.
  ~ScannerSim();
  ScannerSim(const ScannerSim&) = delete;
  ScannerSim& operator=(const ScannerSim&) = delete;

  void PowerOn();
  void PowerOff();
  bool IsPoweredOn() const;
  // Pulls the scanner's line out (for good).
  void Unplug();
  // Lets a line fault strike now.
  void Strike(LineFaultKind kind);
  // True once the configured strike (or a Strike call) has happened.
  bool Struck() const;
  // Changes the faults from now on (e.g. a dump that fails only later); the
  // count of short dumps starts again.
  void SetFaults(const ScannerFaults& faults);

  // Holds the flash write after every transfer of component from now on:
  // the loader stays writing its flash (lines up, no completion text) until
  // ReleaseFlashWrite, so a test decides when the write ends without timing
  // it.
  void HoldFlashWrite(Component component);
  // Ends the hold: a held write then completes as soon as its flashWriteMs
  // is up, and later ones run as usual.
  void ReleaseFlashWrite();
  // True while the loader writes the flash of the held component: it has
  // taken the transfer's end byte and keeps its completion text back.
  bool HoldingFlashWrite() const;

  LoaderState State() const;

  // Every byte the scanner received, in order.
  std::vector<uint8_t> Received() const;
  // Waits (real time) until the scanner received this byte sequence.
  bool WaitForReceived(const std::string& bytes, int timeoutMs) const;

  // The keys typed at the loader in order: every byte received outside a
  // transfer while switched on, except the wake-up "*" (so "1y3" ... and
  // the dump addresses with their CR).
  std::string KeysTyped() const;
  // Banners sent (one per answered wake-up).
  int BannerCount() const;
  // Dumps shown.
  int DumpCount() const;
  // Everything the loader sent, in order (noise included when garbage).
  std::string Output() const;

  // The transfers of a component, each without its end byte, in order. Image
  // blocks are filed as RCP or VTC by their header record.
  std::vector<std::vector<uint8_t>> Transfers(Component component) const;
  size_t BlockCount(Component component) const { return Transfers(component).size(); }
  // The header texts of the blocks of an S-record component, in order.
  std::vector<std::string> BlockHeaders(Component component) const;
  // The memory image built from a component's S-records (RCP, VTC, LDR).
  SparseMemory Memory(Component component) const;
  std::vector<uint8_t> ReadMemory(Component component, uint32_t address, size_t length,
                                  bool* complete = nullptr) const;
  // Bytes written over data that an earlier block of the component had
  // written (a record sent twice).
  size_t RewrittenBytes(Component component) const;
  std::vector<RecordError> RecordErrors() const;
  // The 64 bytes at the special block's address in the loader image as last
  // received; empty when the image did not cover all of them.
  std::optional<std::array<uint8_t, 64>> SpecialBlockReceived() const;
  // The special block as the scanner holds it now: the configured one until
  // a loader image is written, then what that image held there (0xFF where it
  // held nothing, as the erased flash does).
  std::array<uint8_t, 64> CurrentSpecialBlock() const;
  // Real milliseconds since the last byte went either way (or since power on).
  int64_t MillisecondsSinceTraffic() const;

  // Waits (real time, polling) until condition holds.
  static bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);
  bool WaitForState(LoaderState state, int timeoutMs) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace scanner
