// An in-memory null-modem cable between the program (near end, a SerialPort)
// and whoever stands in for the scanner (far end: the loader simulator or a
// test).
//
// The far end sets CTS and DSR as the scanner's power does, and the near end's
// writes are held while CTS is low, as RTS/CTS flow control holds them on a
// real line. Bytes can be paced at the line rate so that transfers take as
// long as on the wire. Unplug makes the port vanish as a USB scanner does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace platform::sim {

class SimLine : public std::enable_shared_from_this<SimLine> {
 public:
  static std::shared_ptr<SimLine> Create();

  // ---- far end (scanner side) ----
  void SetCts(bool on);
  void SetDsr(bool on);
  // Both lines at once, as a power switch does.
  void SetPower(bool on);
  // Sends bytes toward the program. Paced when pacing is on. Returns false
  // while the near end is not open (the bytes are lost, as on a wire).
  bool FarWrite(const void* data, size_t length);
  bool FarWrite(const std::string& text) { return FarWrite(text.data(), text.size()); }
  // Takes up to capacity bytes the program wrote; waits up to timeoutMs
  // (real ms) for the first. Returns the count (0 on time-out or unplug).
  size_t FarRead(void* buffer, size_t capacity, uint32_t timeoutMs);
  // Everything the program ever wrote on this line, in order.
  std::vector<uint8_t> FarReceivedAll() const;
  size_t FarReceivedCount() const;

  // A watcher of the wire, for benches that time the dialogue: told of every
  // chunk when it reaches the far side of its wire (toward the program: once
  // it has arrived at the near end; toward the scanner: when the program's
  // port takes it into its transmit buffer). Called with the line's lock
  // held, so it must be quick and must not call the line. An empty monitor
  // removes it.
  enum class Direction { kToNear, kToFar };
  using Monitor = std::function<void(Direction direction, const uint8_t* bytes, size_t length,
                                     std::chrono::steady_clock::time_point when)>;
  void SetMonitor(Monitor monitor);

  // Pacing at bitsPerSecond with 10 bits per byte; 0 turns pacing off.
  void SetPacing(uint32_t bitsPerSecond);
  // Hands the far end's bytes to the program in packets of random size
  // (minBytes to maxBytes), each after a pause of up to maxGapMicros, as a USB
  // serial adapter hands over what its UART collected. The sizes and pauses
  // come from seed, so a run can be repeated. maxBytes 0 turns it off.
  void SetPacketizing(size_t minBytes, size_t maxBytes, uint32_t maxGapMicros, uint32_t seed);
  // The port disappears: pending and later near calls fail
  // (kErrorDeviceNotConnected), opens fail, bytes not yet read by the program
  // are gone. CTS and DSR stay as the far end set them.
  void Unplug();
  // At the program's byte number atByte (counting every byte it ever wrote on
  // this line, the first being 1) the line fails as that byte goes out: it
  // is unplugged (unplug), or the scanner's power drops (CTS and DSR low;
  // the far end raises them again). Lets a test place a fault at an exact
  // byte however the threads are scheduled.
  void CutAtNearByte(uint64_t atByte, bool unplug);
  // The port is back: a later open succeeds; a port opened before the
  // unplug stays dead, as a handle to a vanished USB device does.
  void Replug();
  // The driver fails every later read of the open port with error (0 heals
  // it), while the device stays and writes go on: a fault that is not the
  // device going away.
  void FailReads(int error);
  bool IsPluggedIn() const;
  bool IsNearOpen() const;
  // The line settings and time-outs the near end applied last (a fresh line
  // reads 9600 8N1 without handshake, as an unused port does).
  LineSettings NearSettings() const;
  CommTimeouts NearTimeouts() const;

  // ---- near end ----
  // Opens the near end; fails (null, error set) when unplugged
  // (kErrorFileNotFound) or already open (kErrorAccessDenied: ports are opened
  // without sharing). Bytes the far end sent while the near end was closed are
  // gone; bytes the program wrote earlier stay readable at the far end.
  PortPtr OpenNear(int& error);

 private:
  friend class SimPort;
  SimLine();

  using Clock = std::chrono::steady_clock;
  // Waits (releasing the lock) until the time at which the paced bytes of one
  // direction are on the wire; false when stop() turned true first.
  template <typename Stop>
  bool WaitUntil(std::unique_lock<std::mutex>& lock, Clock::time_point when, Stop stop);
  // Unplug and the cut of CutAtNearByte; caller holds the lock.
  void UnplugLocked();
  void CutLocked();
  // Reserves wire time for count bytes from the running deadline of one
  // direction and returns when they have left. Caller holds the lock.
  Clock::time_point Reserve(Clock::time_point& wireFree, size_t count) const;

  // A chunk the near end wrote, on its way: the far end sees it from due on.
  struct FarChunk {
    Clock::time_point due;      // taken into the transmit buffer
    Clock::time_point wireEnd;  // its last bit has left
    const void* writer;         // the write it belongs to
    std::vector<uint8_t> bytes;
  };
  // Hands the chunks that are due to the far end. Caller holds the lock.
  void PromoteFar(Clock::time_point now) const;
  // Takes back the chunks of a write that are not yet due (the scanner
  // lowered CTS, or the port is gone) and frees their wire time; returns
  // their byte count. Caller holds the lock.
  size_t TakeBackFar(const void* writer);

  // Wakes every waiter of the line: the lines, the plug or the near end's
  // open state changed.
  void NotifyAll();

  mutable std::mutex mutex_;  // guards every member below
  // Three wake-ups, so that the paced bytes of one direction wake only the
  // reader of that direction, and nobody else, a thousand times a second:
  // changed_ for the lines, the plug and the near end's open state (the
  // writers wait on it), toNearArrived_ for the program's reads,
  // toFarArrived_ for the far end's reads.
  std::condition_variable changed_;
  std::condition_variable toNearArrived_;
  mutable std::condition_variable toFarArrived_;
  bool cts_ = false;
  bool dsr_ = false;
  uint32_t dsrChanges_ = 0;  // every change of DSR, as a driver counts them
  uint64_t cutAt_ = 0;       // CutAtNearByte: the byte number, 0 when none is set
  bool cutUnplugs_ = false;
  bool plugged_ = true;
  int readFault_ = 0;  // the error every read fails with; 0 for none
  bool nearOpen_ = false;
  uint64_t openGeneration_ = 0;  // tells a closed SimPort from the current one
  uint32_t pacingBps_ = 0;
  size_t packetMin_ = 0;
  size_t packetMax_ = 0;  // 0: no packets
  uint32_t packetGapMicros_ = 0;
  uint32_t packetSeed_ = 0;
  std::deque<uint8_t> toNear_;
  // The far end's side of the near end's writes is brought up to date
  // whenever it is looked at, so these change under const readers too.
  mutable std::deque<FarChunk> pendingFar_;
  mutable std::deque<uint8_t> toFar_;
  mutable std::vector<uint8_t> farLog_;
  LineSettings settings_{};
  CommTimeouts timeouts_{};
  Monitor monitor_;
  // When each direction's wire is free again: the running deadline of pacing,
  // which keeps the average rate exact however the waits overshoot.
  Clock::time_point toFarWireFree_{};
  Clock::time_point toNearWireFree_{};
};

// Named sim lines handed out by OpenSerialPort while installed: tests and the
// demo register COM1, ZEV0 ... and install the registry's opener.
class SimPortRegistry {
 public:
  static SimPortRegistry& Instance();
  // Names are kept upper case without the device prefix \\.\ (so "com3",
  // "COM3" and "\\.\COM3" are one port); adding a name again replaces its line.
  void Add(const std::string& name, std::shared_ptr<SimLine> line);
  void Remove(const std::string& name);
  void Clear();
  std::shared_ptr<SimLine> Find(const std::string& name) const;
  // The registered names, upper case and without the device prefix.
  std::vector<std::string> Names() const;
  // Installs an opener that serves registered names (the device prefix is
  // dropped and case ignored) and fails the rest with kErrorFileNotFound.
  void InstallAsOpener();

 private:
  mutable std::mutex mutex_;  // guards lines_
  std::map<std::string, std::shared_ptr<SimLine>> lines_;
};

}  // namespace platform::sim
