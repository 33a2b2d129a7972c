// The scanner loader simulator: one thread per simulated scanner reads what
// the program sends, runs the loader's state machine and writes its answers.
#include "scanner_sim.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "loader_texts.h"
#include "scanner_transport.h"
#include "srecord_check.h"

namespace scanner {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kNoFf = static_cast<size_t>(-1);
// The longest dump the loader shows at once.
constexpr uint32_t kMaxDumpBytes = 4096;

std::array<uint8_t, 64> MakeSpecialBlock(const char* serial) {
  std::array<uint8_t, 64> block{};
  const size_t n = std::min(std::strlen(serial), block.size());
  std::memcpy(block.data(), serial, n);
  for (size_t i = n; i < block.size(); ++i) block[i] = static_cast<uint8_t>(0xA0 + i);
  return block;
}

bool IsHexDigit(uint8_t b) {
  return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'F') || (b >= 'a' && b <= 'f');
}

int64_t MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

}  // namespace

const char* ComponentName(Component component) {
  switch (component) {
    case Component::kCpld: return "CPLD";
    case Component::kFpga: return "FPGA";
    case Component::kDsp: return "DSP";
    case Component::kUim: return "UIM";
    case Component::kRcp: return "RCP";
    case Component::kVtc: return "VTC";
    case Component::kLdr: return "LDR";
  }
  return "?";
}

const char* LineFaultKindName(LineFaultKind kind) {
  switch (kind) {
    case LineFaultKind::kNone: return "none";
    case LineFaultKind::kUnplug: return "unplug";
    case LineFaultKind::kSilence: return "silence";
    case LineFaultKind::kGarbage: return "garbage";
    case LineFaultKind::kRestart: return "restart";
  }
  return "?";
}

const char* LoaderStateName(LoaderState state) {
  switch (state) {
    case LoaderState::kOff: return "off";
    case LoaderState::kBooting: return "booting";
    case LoaderState::kAwaitingWakeUp: return "awaiting wake-up";
    case LoaderState::kMenu: return "menu";
    case LoaderState::kCpldMenu: return "CPLD menu";
    case LoaderState::kDspQuestion: return "DSP question";
    case LoaderState::kStoreQuestion: return "store question";
    case LoaderState::kDumpStartAddress: return "dump start address";
    case LoaderState::kDumpEndAddress: return "dump end address";
    case LoaderState::kReceiving: return "receiving";
    case LoaderState::kWritingFlash: return "writing flash";
    case LoaderState::kRestarting: return "restarting";
    case LoaderState::kAwaitingPowerCycle: return "awaiting power cycle";
    case LoaderState::kUnplugged: return "unplugged";
  }
  return "?";
}

char ScannerConfig::DumpKey() const {
  return major * 10000 + minor * 100 + patch < 10101 ? '4' : '7';
}

ScannerConfig ScannerConfig::QZ500() {
  ScannerConfig config;
  config.familyDigit = '5';
  config.major = 1;
  config.minor = 4;
  config.patch = 2;
  config.specialBlock = MakeSpecialBlock("SN QZ500-004217");
  return config;
}

ScannerConfig ScannerConfig::QZ600() {
  ScannerConfig config;
  config.familyDigit = '6';
  config.major = 2;
  config.minor = 3;
  config.patch = 4;
  config.specialBlock = MakeSpecialBlock("SN QZ600-006311");
  return config;
}

ScannerConfig ScannerConfig::MV2() {
  ScannerConfig config;
  config.familyDigit = '6';
  config.major = 3;
  config.minor = 1;
  config.patch = 0;
  config.boardText = true;
  config.boardMajor = 4;
  config.boardMinor = 9;
  config.specialBlock = MakeSpecialBlock("SN MV2-017702");
  return config;
}

struct ScannerSim::Impl {
  Impl(std::unique_ptr<ScannerTransport> transportIn, ScannerConfig configIn)
      : transport(std::move(transportIn)), config(std::move(configIn)) {
    specialBlock = config.specialBlock;
    storeHasData = config.imageStoreHasData;
    shortDumpsLeft = config.faults.shortDumps;
    lastTraffic = Clock::now();
    // Switched off to begin with. A pseudo-terminal has no lines to lower,
    // and closing it now would end it before it served anything.
    if (transport->HasModemLines()) transport->SetPower(false);
    thread = std::thread([this] { Run(); });
  }

  ~Impl() {
    stop = true;
    thread.join();
  }

  // ---- the simulator thread ----

  void Run() {
    std::vector<uint8_t> buffer(4096);
    while (!stop) {
      uint32_t waitMs = 10;
      size_t capacity = buffer.size();
      bool unplugged = false;
      {
        std::lock_guard<std::mutex> lock(mutex);
        const auto now = Clock::now();
        auto until = [&](Clock::time_point when) {
          const int64_t ms = MsBetween(now, when);
          waitMs = static_cast<uint32_t>(std::clamp<int64_t>(ms, 0, waitMs));
        };
        if (deadlineSet) until(deadline);
        if (!outbox.empty()) until(outbox.front().due);
        const int64_t budget = config.faults.unplugAfterBytes;
        if (budget >= 0) capacity = static_cast<size_t>(std::clamp<int64_t>(budget - receivedTotal, 0, capacity));
        unplugged = state == LoaderState::kUnplugged;
      }
      size_t got = 0;
      if (unplugged || capacity == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
      } else {
        got = transport->Read(buffer.data(), capacity, waitMs);
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        now = Clock::now();
        for (size_t i = 0; i < got; ++i) HandleByte(buffer[i]);
        const int64_t budget = config.faults.unplugAfterBytes;
        if (budget >= 0 && receivedTotal >= budget && state != LoaderState::kUnplugged) UnplugLocked();
        // The line itself was pulled out (a fault placed on it at a byte).
        if (got == 0 && state != LoaderState::kUnplugged && !transport->IsPluggedIn()) {
          struck = true;
          UnplugLocked();
        }
        HandleTimers();
      }
      FlushOutbox();
    }
  }

  // Writes the answers that are due, in order. A power change from outside
  // waits for the write under way, so a scanner switched off says no more.
  void FlushOutbox() {
    for (;;) {
      std::lock_guard<std::mutex> writeLock(writeMutex);
      Pending item;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (outbox.empty() || outbox.front().due > Clock::now()) return;
        item = std::move(outbox.front());
        outbox.pop_front();
        if (item.generation != generation || !LinesUp()) continue;
      }
      transport->Write(item.bytes.data(), item.bytes.size());
      std::lock_guard<std::mutex> lock(mutex);
      output += item.bytes;
      lastTraffic = Clock::now();
    }
  }

  // ---- the loader (caller holds mutex) ----

  bool LinesUp() const {
    return state != LoaderState::kOff && state != LoaderState::kBooting &&
           state != LoaderState::kRestarting && state != LoaderState::kUnplugged;
  }

  void Emit(const std::string& text, int delayMs = 0) {
    if (config.faults.silent || text.empty()) return;
    auto due = now + std::chrono::milliseconds(delayMs);
    if (due < lastDue) due = lastDue;  // answers leave in the order they were made
    lastDue = due;
    outbox.push_back({due, config.faults.garbage ? texts::Garbage(text, noiseSeed) : text, generation});
  }
  // The answer to a key, late when the menu is slow.
  void Answer(const std::string& text) { Emit(text, config.faults.menuDelayMs); }
  std::string Menu() const { return texts::Menu(config.IsMv2(), config.DumpKey()); }

  void SetDeadline(int ms) {
    deadline = now + std::chrono::milliseconds(std::max(ms, 0));
    deadlineSet = true;
  }

  void HandleByte(uint8_t b) {
    ++receivedTotal;
    received.push_back(b);
    lastTraffic = now;
    switch (state) {
      case LoaderState::kOff:
      case LoaderState::kBooting:
      case LoaderState::kRestarting:
      case LoaderState::kAwaitingPowerCycle:
      case LoaderState::kUnplugged:
      case LoaderState::kWritingFlash:
        return;
      case LoaderState::kReceiving:
        Receive(b);
        return;
      default:
        break;
    }
    if (b == '*') {
      if (StrikesAt(FaultPoint::kWakeUp) && StrikeLocked(config.faults.strike.kind)) {
        // The rest of the program's burst of four belongs to the wake-up the
        // restart cut short; the fresh loader has greeted already.
        starsToSwallow = 3;
        return;
      }
      if (starsToSwallow > 0) {
        --starsToSwallow;
        return;
      }
      WakeUp();
      return;
    }
    keys.push_back(static_cast<char>(b));
    switch (state) {
      case LoaderState::kMenu:
        MenuKey(b);
        break;
      case LoaderState::kCpldMenu:
        if (b == '1') {
          Answer(texts::kCpldExecute);
          StartTransfer(Component::kCpld, false);
        } else {
          Answer(Menu());
          state = LoaderState::kMenu;
        }
        break;
      case LoaderState::kDspQuestion:
        if (b != 'y') {
          Answer(texts::kDspCancelled + Menu());
          state = LoaderState::kMenu;
        } else if (config.faults.dspRamError) {
          Answer(texts::kDspRamError + Menu());
          state = LoaderState::kMenu;
        } else {
          Answer(texts::kDspReady);
          StartTransfer(Component::kDsp, false);
        }
        break;
      case LoaderState::kStoreQuestion:
        if (b == 'y') {
          storeHasData = false;
          Answer(texts::kStoreErased + std::string(texts::kImagePrompt));
          StartTransfer(Component::kRcp, true);
        } else if (b == 'n') {
          Answer(texts::kDownloadAborted + Menu());
          state = LoaderState::kMenu;
        }
        break;  // anything else: the question stands
      case LoaderState::kDumpStartAddress:
      case LoaderState::kDumpEndAddress:
        AddressKey(b);
        break;
      default:  // awaiting the wake-up: only "*" counts
        break;
    }
  }

  // One banner per burst of wake-up characters: the program types "****",
  // 32 ms apart, and takes the first banner; more would linger in its receive
  // buffer. A "*" after a pause, or after three swallowed ones, is a new
  // wake-up.
  void WakeUp() {
    const bool answer = wakeFresh || MsBetween(lastStar, now) > config.timing.wakeHoldoffMs ||
                        starsSwallowed >= 3;
    lastStar = now;
    wakeFresh = false;
    if (!answer) {
      ++starsSwallowed;
      return;
    }
    starsSwallowed = 0;
    ++banners;
    const std::string text = BannerText();
    if (afterCpldRestart) {
      afterCpldRestart = false;
      if (config.cpldNeedsPowerCycle) {
        Emit(text + texts::kNewLogicActive);
        state = LoaderState::kAwaitingPowerCycle;
        return;
      }
    }
    Emit(text + Menu());
    state = LoaderState::kMenu;
  }

  // The banner, and on MV2 the board text after it.
  std::string BannerText() const {
    std::string text = texts::Banner(config.familyDigit, config.major, config.minor, config.patch,
                                     config.build);
    if (config.IsMv2() && config.boardText) {
      text += texts::BoardText(config.boardMajor, config.boardMinor, !config.faults.boardTextWithoutVersion);
    }
    return text;
  }

  void MenuKey(uint8_t key) {
    const bool mv2 = config.IsMv2();
    switch (key) {
      case '1':
        if (storeHasData || config.askStoreEveryBlock) {
          Answer(texts::kStoreQuestion);
          state = LoaderState::kStoreQuestion;
        } else {
          Answer(texts::kImagePrompt);
          StartTransfer(Component::kRcp, true);
        }
        return;
      case '3':
        if (mv2) {
          Answer(texts::kFpgaPrompt);
          StartTransfer(Component::kFpga, false);
        } else {
          Answer(texts::kCpldMenu);
          state = LoaderState::kCpldMenu;
        }
        return;
      case '8':
        if (!mv2) break;
        Answer(texts::kUimPrompt);
        StartTransfer(Component::kUim, false);
        return;
      case '9':
        if (mv2) break;
        Answer(texts::kDspQuestion);
        state = LoaderState::kDspQuestion;
        return;
      case 'a':
        Answer(texts::kLoaderPrompt);
        StartTransfer(Component::kLdr, false);
        return;
      case 'x':
        Answer(texts::kExit);
        state = LoaderState::kAwaitingWakeUp;
        wakeFresh = true;
        return;
      case '\r':
      case '\n':
      case ' ':
        return;
      default:
        if (key == static_cast<uint8_t>(config.DumpKey())) {
          Answer(texts::kDumpPrompt);
          address.clear();
          state = LoaderState::kDumpStartAddress;
          return;
        }
        break;
    }
    Answer(texts::kUnknownKey);
  }

  void AddressKey(uint8_t b) {
    if (IsHexDigit(b)) {
      if (address.size() < 8) {
        address.push_back(static_cast<char>(b));
        Emit(std::string(1, static_cast<char>(b)));  // the loader echoes what is typed
      }
      return;
    }
    if (b == 0x1B) {  // ESC leaves the dump
      Answer(Menu());
      state = LoaderState::kMenu;
      return;
    }
    if (b != '\r') return;
    const bool isStart = state == LoaderState::kDumpStartAddress;
    const uint32_t value = address.empty() ? 0 : static_cast<uint32_t>(std::stoul(address, nullptr, 16));
    const bool empty = address.empty();
    address.clear();
    if (isStart) {
      if (empty) {
        Answer(texts::kBadAddress + Menu());
        state = LoaderState::kMenu;
        return;
      }
      dumpStart = value;
      Answer(texts::kEndAddressPrompt);
      state = LoaderState::kDumpEndAddress;
      return;
    }
    if (empty || value <= dumpStart || value - dumpStart > kMaxDumpBytes) {
      Answer(texts::kBadAddress + Menu());
      state = LoaderState::kMenu;
      return;
    }
    ShowDump(dumpStart, value);
  }

  void ShowDump(uint32_t start, uint32_t end) {
    ++dumps;
    if (StrikesAt(FaultPoint::kDump) && dumps == config.faults.strike.dump &&
        StrikeLocked(config.faults.strike.kind)) {
      return;
    }
    const uint32_t base = config.SpecialBlockAddress();
    std::vector<uint8_t> bytes(end - start);
    for (uint32_t i = 0; i < bytes.size(); ++i) {
      const uint32_t at = start + i;
      bytes[i] = at >= base && at - base < specialBlock.size() ? specialBlock[at - base] : 0xFF;
    }
    if (shortDumpsLeft > 0) {
      --shortDumpsLeft;
      bytes.resize(std::min<size_t>(bytes.size(), static_cast<size_t>(std::max(config.faults.shortDumpBytes, 0))));
    }
    Answer("\r\n" + texts::DumpText(start, bytes, end) + Menu());
    state = LoaderState::kMenu;
  }

  void StartTransfer(Component component, bool image) {
    ++transfersStarted;
    // A fault inside this transfer is placed on the line itself, at its
    // exact byte: the program must not get further than a real line would
    // let it before the fault shows.
    const StrikeAt& strike = config.faults.strike;
    if (!struck && strike.point == FaultPoint::kStream && strike.transfer == transfersStarted &&
        (strike.kind == LineFaultKind::kUnplug || strike.kind == LineFaultKind::kRestart)) {
      transport->CutAtProgramByte(static_cast<uint64_t>(receivedTotal + strike.afterBytes),
                                  strike.kind == LineFaultKind::kUnplug);
    }
    state = LoaderState::kReceiving;
    transferComponent = component;
    transferIsImage = image;
    transferBytes.clear();
    lastFf = kNoFf;
    starsAfterFf = 0;
    lastByte = now;
  }

  void Receive(uint8_t b) {
    transferBytes.push_back(b);
    lastByte = now;
    if (StrikesAt(FaultPoint::kStream) && transfersStarted == config.faults.strike.transfer &&
        static_cast<int64_t>(transferBytes.size()) == config.faults.strike.afterBytes &&
        StrikeLocked(config.faults.strike.kind)) {
      return;
    }
    // S-record text cannot hold 0xFF: in an image block or a loader image
    // the first one is the end byte.
    const bool text = transferIsImage || (transferComponent == Component::kLdr && transferBytes[0] == 'S');
    if (b == 0xFF) {
      if (text || config.timing.rawQuietMs <= 0) {
        transferBytes.pop_back();
        EndTransfer();
        return;
      }
      lastFf = transferBytes.size() - 1;
      starsAfterFf = 0;
      return;
    }
    if (lastFf == kNoFf) return;
    if (b != '*') {
      lastFf = kNoFf;
    } else if (++starsAfterFf == 4) {
      // The program is waking the scanner: the 0xFF before was the end.
      transferBytes.resize(lastFf);
      EndTransfer();
    }
  }

  void EndTransfer() {
    std::vector<uint8_t> bytes = std::move(transferBytes);
    transferBytes.clear();
    Component component = transferComponent;
    if (transferIsImage || component == Component::kLdr) {
      SparseMemory blockMemory;
      std::vector<std::string> faults;
      std::string header;
      if (component == Component::kLdr && (bytes.empty() || bytes[0] != 'S')) {
        faults.push_back("the loader image is not S-record text");
      } else {
        const SRecordBlock block = CheckSRecords(bytes.data(), bytes.size(), blockMemory);
        faults = block.errors;
        header = block.header;
      }
      if (transferIsImage) {
        component = header.find(config.vtcHeaderMark) != std::string::npos && !config.vtcHeaderMark.empty()
                        ? Component::kVtc
                        : Component::kRcp;
      }
      SparseMemory& memory = memories[component];
      if (component == Component::kLdr) memory.Clear();  // a loader image is whole
      for (const auto& [first, end] : blockMemory.Ranges()) {
        const std::vector<uint8_t> data = blockMemory.Read(static_cast<uint32_t>(first), end - first);
        rewritten[component] += memory.Write(static_cast<uint32_t>(first), data.data(), data.size());
      }
      headers[component].push_back(header);
      const int blockNumber = static_cast<int>(transfers[component].size()) + 1;
      for (auto& fault : faults) errors.push_back({component, blockNumber, std::move(fault)});
    }
    transfers[component].push_back(std::move(bytes));

    if (component == Component::kLdr) {
      // The new loader's flash now holds whatever the image put there.
      const std::vector<uint8_t> block =
          memories[Component::kLdr].Read(config.SpecialBlockAddress(), specialBlock.size());
      std::copy(block.begin(), block.end(), specialBlock.begin());
    }
    if (component == Component::kCpld) {
      // The new logic restarts the scanner: the lines drop for a moment.
      state = LoaderState::kRestarting;
      SetDeadline(config.timing.restartMs);
      if (transport->HasModemLines()) transport->SetPower(false);
      StrikeAtEndByte();
      return;
    }
    state = LoaderState::kWritingFlash;
    flashing = component;
    SetDeadline(config.timing.flashWriteMs);
    StrikeAtEndByte();
  }

  void StrikeAtEndByte() {
    if (StrikesAt(FaultPoint::kEndByte) && transfersStarted == config.faults.strike.transfer) {
      StrikeLocked(config.faults.strike.kind);
    }
  }

  // The configured strike is due at this point and has not happened yet.
  bool StrikesAt(FaultPoint point) const {
    return !struck && config.faults.strike.kind != LineFaultKind::kNone &&
           config.faults.strike.point == point;
  }

  // Lets the fault strike now. True when the loader does nothing more with
  // what it was handling (the line or the loader is gone).
  bool StrikeLocked(LineFaultKind kind) {
    struck = true;
    switch (kind) {
      case LineFaultKind::kNone:
        return false;
      case LineFaultKind::kUnplug:
        UnplugLocked();
        return true;
      case LineFaultKind::kSilence:
        config.faults.silent = true;
        outbox.clear();
        return false;
      case LineFaultKind::kGarbage: {
        const std::string noise = texts::Garbage(std::string(240, '.') + "\r\n", noiseSeed);
        outbox.push_back({now, noise, generation});
        return false;
      }
      case LineFaultKind::kRestart:
        // Already restarting (the logic device's own restart): nothing changes.
        if (state == LoaderState::kRestarting) return true;
        CutTransfer("transfer cut off by the restart");
        state = LoaderState::kRestarting;
        ++generation;
        outbox.clear();
        afterCpldRestart = false;
        announceAfterRestart = true;
        SetDeadline(config.timing.restartMs);
        if (transport->HasModemLines()) transport->SetPower(false);
        return true;
    }
    return false;
  }

  void Complete() {
    const ScannerFaults& faults = config.faults;
    switch (flashing) {
      case Component::kFpga:
        Emit((faults.noFpgaDone ? texts::kFpgaFailed : texts::kFpgaDone) + Menu());
        break;
      case Component::kDsp:
        Emit((faults.noDspDone ? texts::kDspFailed : texts::kDspDone) + Menu());
        break;
      case Component::kUim:
        Emit(texts::kUimStored + (faults.noUimMenu ? std::string() : Menu()));
        break;
      default:
        Emit((faults.noWriteFlashComplete ? texts::kFlashFailed : texts::kFlashComplete) + Menu());
        break;
    }
    state = LoaderState::kMenu;
  }

  void HandleTimers() {
    // The end byte followed by quiet, or by a few wake-up characters and then
    // quiet (a program that began waking the scanner and stopped), ends it.
    if (state == LoaderState::kReceiving && lastFf != kNoFf &&
        lastFf + 1 + starsAfterFf == transferBytes.size() &&
        config.timing.rawQuietMs > 0 && MsBetween(lastByte, now) >= config.timing.rawQuietMs) {
      transferBytes.resize(lastFf);
      EndTransfer();
    }
    if (!deadlineSet || now < deadline) return;
    deadlineSet = false;
    switch (state) {
      case LoaderState::kBooting:
        transport->SetPower(true);
        state = LoaderState::kAwaitingWakeUp;
        wakeFresh = true;
        break;
      case LoaderState::kRestarting:
        if (transport->HasModemLines()) transport->SetPower(true);
        state = LoaderState::kAwaitingWakeUp;
        wakeFresh = true;
        if (announceAfterRestart) {
          // Restarted by a fault: the fresh loader greets with its banner
          // and takes what follows as menu keys.
          announceAfterRestart = false;
          ++banners;
          Emit(BannerText() + Menu());
          state = LoaderState::kMenu;
        } else {
          afterCpldRestart = true;
        }
        break;
      case LoaderState::kWritingFlash:
        // A held write stays on without a deadline; ReleaseFlashWrite sets
        // it again.
        if (holdFlash && *holdFlash == flashing) break;
        Complete();
        break;
      default:
        break;
    }
  }

  void CutTransfer(const char* why) {
    if (state != LoaderState::kReceiving) return;
    const Component component = transferComponent;
    errors.push_back({component, static_cast<int>(transfers[component].size()) + 1, why});
    transferBytes.clear();
  }

  void UnplugLocked() {
    CutTransfer("transfer cut off by the unplug");
    state = LoaderState::kUnplugged;
    ++generation;
    outbox.clear();
    deadlineSet = false;
    transport->Unplug();
  }

  struct Pending {
    Clock::time_point due;
    std::string bytes;
    uint64_t generation = 0;
  };

  const std::unique_ptr<ScannerTransport> transport;
  std::thread thread;
  std::atomic<bool> stop{false};

  // Held across each write to the transport, and by power changes from
  // outside, so that no answer leaves after the scanner was switched off.
  // Taken before mutex.
  std::mutex writeMutex;

  mutable std::mutex mutex;  // guards every member below
  ScannerConfig config;
  LoaderState state = LoaderState::kOff;
  Clock::time_point now;
  uint64_t generation = 0;  // counts power changes; answers made before one are dropped
  std::deque<Pending> outbox;
  Clock::time_point lastDue;
  bool deadlineSet = false;
  Clock::time_point deadline;
  Clock::time_point lastTraffic;
  uint32_t noiseSeed = 0x5EED;

  bool wakeFresh = true;
  Clock::time_point lastStar;
  int starsSwallowed = 0;
  bool afterCpldRestart = false;
  bool announceAfterRestart = false;
  int starsToSwallow = 0;
  bool struck = false;
  int transfersStarted = 0;

  bool storeHasData = false;
  std::string address;
  uint32_t dumpStart = 0;
  int shortDumpsLeft = 0;
  std::array<uint8_t, 64> specialBlock{};

  Component transferComponent = Component::kRcp;
  bool transferIsImage = false;
  std::vector<uint8_t> transferBytes;
  size_t lastFf = kNoFf;
  int starsAfterFf = 0;
  Clock::time_point lastByte;
  Component flashing = Component::kRcp;
  // The component whose flash writes last until the test releases them.
  std::optional<Component> holdFlash;

  int64_t receivedTotal = 0;
  std::vector<uint8_t> received;
  std::string keys;
  std::string output;
  int banners = 0;
  int dumps = 0;
  std::map<Component, std::vector<std::vector<uint8_t>>> transfers;
  std::map<Component, std::vector<std::string>> headers;
  std::map<Component, SparseMemory> memories;
  std::map<Component, size_t> rewritten;
  std::vector<RecordError> errors;
};

ScannerSim::ScannerSim(std::shared_ptr<platform::sim::SimLine> line, ScannerConfig config)
    : ScannerSim(MakeSimLineTransport(std::move(line)), std::move(config)) {}

ScannerSim::ScannerSim(std::unique_ptr<ScannerTransport> transport, ScannerConfig config)
    : impl_(std::make_unique<Impl>(std::move(transport), std::move(config))) {}

ScannerSim::~ScannerSim() = default;

void ScannerSim::PowerOn() {
  std::lock_guard<std::mutex> writeLock(impl_->writeMutex);
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->state != LoaderState::kOff) return;
  impl_->now = Clock::now();
  ++impl_->generation;
  impl_->lastTraffic = impl_->now;
  if (impl_->transport->HasModemLines()) {
    impl_->state = LoaderState::kBooting;
    impl_->SetDeadline(impl_->config.timing.bootMs);
  } else {
    // No CTS to hold the program's wake-up back while the scanner boots:
    // the loader listens at once.
    impl_->state = LoaderState::kAwaitingWakeUp;
    impl_->wakeFresh = true;
  }
}

void ScannerSim::PowerOff() {
  std::lock_guard<std::mutex> writeLock(impl_->writeMutex);
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->state == LoaderState::kOff || impl_->state == LoaderState::kUnplugged) return;
  impl_->CutTransfer("transfer cut off by power loss");
  impl_->state = LoaderState::kOff;
  ++impl_->generation;
  impl_->outbox.clear();
  impl_->deadlineSet = false;
  impl_->afterCpldRestart = false;
  impl_->announceAfterRestart = false;
  impl_->transport->SetPower(false);
}

bool ScannerSim::IsPoweredOn() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->state != LoaderState::kOff && impl_->state != LoaderState::kUnplugged;
}

void ScannerSim::Unplug() {
  std::lock_guard<std::mutex> writeLock(impl_->writeMutex);
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->state != LoaderState::kUnplugged) impl_->UnplugLocked();
}

void ScannerSim::Strike(LineFaultKind kind) {
  std::lock_guard<std::mutex> writeLock(impl_->writeMutex);
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->state == LoaderState::kUnplugged) return;
  impl_->now = Clock::now();
  impl_->StrikeLocked(kind);
}

bool ScannerSim::Struck() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->struck;
}

void ScannerSim::SetFaults(const ScannerFaults& faults) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->config.faults = faults;
  impl_->shortDumpsLeft = faults.shortDumps;
}

void ScannerSim::HoldFlashWrite(Component component) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->holdFlash = component;
}

void ScannerSim::ReleaseFlashWrite() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->holdFlash.reset();
  // A write whose time was up while it was held ends at the simulator's next
  // look, within one turn of its loop.
  if (impl_->state == LoaderState::kWritingFlash && !impl_->deadlineSet) {
    impl_->now = Clock::now();
    impl_->SetDeadline(0);
  }
}

bool ScannerSim::HoldingFlashWrite() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->state == LoaderState::kWritingFlash && impl_->holdFlash &&
         *impl_->holdFlash == impl_->flashing;
}

LoaderState ScannerSim::State() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->state;
}

std::vector<uint8_t> ScannerSim::Received() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->received;
}

bool ScannerSim::WaitForReceived(const std::string& bytes, int timeoutMs) const {
  return WaitUntil(
      [&] {
        const std::vector<uint8_t> got = Received();
        return std::search(got.begin(), got.end(), bytes.begin(), bytes.end(),
                           [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }) != got.end();
      },
      timeoutMs);
}

std::string ScannerSim::KeysTyped() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->keys;
}

int ScannerSim::BannerCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->banners;
}

int ScannerSim::DumpCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->dumps;
}

std::string ScannerSim::Output() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->output;
}

std::vector<std::vector<uint8_t>> ScannerSim::Transfers(Component component) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->transfers.find(component);
  return it != impl_->transfers.end() ? it->second : std::vector<std::vector<uint8_t>>{};
}

std::vector<std::string> ScannerSim::BlockHeaders(Component component) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->headers.find(component);
  return it != impl_->headers.end() ? it->second : std::vector<std::string>{};
}

SparseMemory ScannerSim::Memory(Component component) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->memories.find(component);
  return it != impl_->memories.end() ? it->second : SparseMemory{};
}

std::vector<uint8_t> ScannerSim::ReadMemory(Component component, uint32_t address, size_t length,
                                            bool* complete) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->memories.find(component);
  if (it == impl_->memories.end()) return SparseMemory{}.Read(address, length, complete);
  return it->second.Read(address, length, complete);
}

size_t ScannerSim::RewrittenBytes(Component component) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->rewritten.find(component);
  return it != impl_->rewritten.end() ? it->second : 0;
}

std::vector<RecordError> ScannerSim::RecordErrors() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->errors;
}

std::optional<std::array<uint8_t, 64>> ScannerSim::SpecialBlockReceived() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->memories.find(Component::kLdr);
  if (it == impl_->memories.end()) return std::nullopt;
  bool complete = false;
  const std::vector<uint8_t> bytes = it->second.Read(impl_->config.SpecialBlockAddress(), 64, &complete);
  if (!complete) return std::nullopt;
  std::array<uint8_t, 64> block{};
  std::copy(bytes.begin(), bytes.end(), block.begin());
  return block;
}

std::array<uint8_t, 64> ScannerSim::CurrentSpecialBlock() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->specialBlock;
}

int64_t ScannerSim::MillisecondsSinceTraffic() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return MsBetween(impl_->lastTraffic, Clock::now());
}

bool ScannerSim::WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool ScannerSim::WaitForState(LoaderState state, int timeoutMs) const {
  return WaitUntil([&] { return State() == state; }, timeoutMs);
}

}  // namespace scanner
