// The in-memory null-modem cable and its near end, SimPort.
#include "platform/sim/sim_line.h"

#include <algorithm>
#include <cctype>

#include "platform/event.h"

namespace platform::sim {
namespace {

thread_local int t_lastError = 0;

// Bytes sent in one step of pacing: about a millisecond's worth, so that the
// reader sees short bursts as from a UART, without a wake-up per byte.
size_t PacingChunk(uint32_t bitsPerSecond) {
  return std::max<size_t>(1, bitsPerSecond / 10 / 1000);
}

// The near end's transmit buffer, in bytes: that of a 16550 UART.
constexpr uint64_t kTransmitBufferBytes = 16;

std::chrono::nanoseconds TransmitBufferTime(uint32_t bitsPerSecond) {
  return std::chrono::nanoseconds(kTransmitBufferBytes * 10u * 1'000'000'000u / bitsPerSecond);
}

constexpr char kDevicePrefix[] = "\\\\.\\";

std::string RegistryKey(const std::string& name) {
  std::string key = name;
  if (key.rfind(kDevicePrefix, 0) == 0) key.erase(0, sizeof(kDevicePrefix) - 1);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

}  // namespace

// The program's end of a sim line. Its state lives under the line's mutex, so
// that the far end's changes (CTS, unplug) and Close wake its waits at once.
class SimPort : public SerialPort {
 public:
  SimPort(std::shared_ptr<SimLine> line, uint64_t generation)
      : line_(std::move(line)), generation_(generation) {}
  ~SimPort() override { Close(); }

  bool GetCommState(LineSettings& settings) override {
    std::lock_guard<std::mutex> lock(line_->mutex_);
    if (!Alive()) return false;
    settings = line_->settings_;
    return true;
  }

  bool SetCommState(const LineSettings& settings) override {
    std::lock_guard<std::mutex> lock(line_->mutex_);
    if (!Alive()) return false;
    // What a serial driver refuses: no rate, or a frame it cannot make.
    if (settings.BaudRate == 0 || settings.ByteSize < 5 || settings.ByteSize > 8 ||
        settings.Parity > 4 || settings.StopBits > TWOSTOPBITS) {
      return Fail(kErrorInvalidParameter);
    }
    line_->settings_ = settings;
    return true;
  }

  bool SetCommTimeouts(const CommTimeouts& timeouts) override {
    std::lock_guard<std::mutex> lock(line_->mutex_);
    if (!Alive()) return false;
    line_->timeouts_ = timeouts;
    return true;
  }

  bool GetCommModemStatus(uint32_t& status) override {
    std::lock_guard<std::mutex> lock(line_->mutex_);
    if (!Alive()) return false;
    status = (line_->cts_ ? MS_CTS_ON : 0) | (line_->dsr_ ? MS_DSR_ON : 0);
    return true;
  }

  bool ClearCommError() override {
    std::lock_guard<std::mutex> lock(line_->mutex_);
    return Alive();
  }

  bool GetDsrChangeCount(uint32_t& count) override {
    std::lock_guard<std::mutex> lock(line_->mutex_);
    if (!Alive()) return false;
    count = line_->dsrChanges_;
    return true;
  }

  bool Write(const void* data, size_t length) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::unique_lock<std::mutex> lock(line_->mutex_);
    if (!Alive()) return false;
    size_t done = 0;
    while (done < length) {
      // RTS/CTS flow control: nothing leaves while the scanner holds CTS low.
      line_->changed_.wait(lock, [&] { return Dead() || line_->cts_; });
      if (!Alive()) return false;
      if (line_->cutAt_ > line_->farLog_.size() && line_->pendingFar_.empty() &&
          line_->farLog_.size() + (length - done) >= line_->cutAt_) {
        // A fault placed on the line: the bytes up to it go out, then the
        // line fails under the rest of the write.
        const size_t upTo = static_cast<size_t>(line_->cutAt_ - line_->farLog_.size());
        line_->pendingFar_.push_back({SimLine::Clock::now(), {}, &done,
                                      std::vector<uint8_t>(bytes + done, bytes + done + upTo)});
        line_->PromoteFar(SimLine::Clock::now());
        done += upTo;
        line_->CutLocked();
        line_->NotifyAll();
        continue;
      }
      const uint32_t bps = line_->pacingBps_;
      if (bps == 0) {
        line_->pendingFar_.push_back(
            {SimLine::Clock::now(), {}, &done, std::vector<uint8_t>(bytes + done, bytes + length)});
        line_->PromoteFar(SimLine::Clock::now());
        return true;
      }
      // The port's transmit buffer takes each chunk while the wire is still
      // busy with the bytes ahead of it, as a UART FIFO does (waiting until
      // the chunk itself had left would let the wire fall idle for every late
      // wake-up and every pause between two writes). The chunks of the whole
      // write are given their times at once and reach the far end at those
      // times; the writer sleeps once, until its last chunk is taken, as a
      // program does on a real port, rather than once per chunk.
      const auto now = SimLine::Clock::now();
      for (size_t at = done; at < length;) {
        const size_t chunk = std::min(length - at, PacingChunk(bps));
        const auto wireEnd = line_->Reserve(line_->toFarWireFree_, chunk);
        // Into an idle wire's buffer a chunk goes when it is written, not before.
        const auto due = std::max(now, wireEnd - TransmitBufferTime(bps));
        line_->pendingFar_.push_back(
            {due, wireEnd, &done, std::vector<uint8_t>(bytes + at, bytes + at + chunk)});
        at += chunk;
      }
      line_->toFarArrived_.notify_all();
      const auto last = line_->pendingFar_.back().due;
      line_->WaitUntil(lock, last, [&] { return Dead() || !line_->cts_; });
      line_->PromoteFar(SimLine::Clock::now());
      // What has not been taken yet stays with the writer: the scanner
      // lowered CTS, or the port is gone.
      done = length - line_->TakeBackFar(&done);
      if (!Alive()) return false;
    }
    return true;
  }

  ReadStatus Read(void* buffer, size_t capacity, size_t& got, uint32_t timeoutMs) override {
    auto* out = static_cast<uint8_t*>(buffer);
    got = 0;
    std::unique_lock<std::mutex> lock(line_->mutex_);
    if (!Alive()) return ReadStatus::kFailed;
    if (line_->readFault_ != 0) return Fail(line_->readFault_), ReadStatus::kFailed;
    if (capacity == 0) return ReadStatus::kTimeout;

    auto ready = [&] { return Dead() || line_->readFault_ != 0 || !line_->toNear_.empty(); };
    if (timeoutMs == kInfinite) {
      line_->toNearArrived_.wait(lock, ready);
    } else if (!line_->toNearArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
      return ReadStatus::kTimeout;
    }
    if (!Alive()) return ReadStatus::kFailed;
    if (line_->readFault_ != 0 && line_->toNear_.empty()) {
      return Fail(line_->readFault_), ReadStatus::kFailed;
    }

    Take(out, capacity, got);
    // The burst ends when the line has been quiet for the read interval;
    // zero (or MAXDWORD) hands out at once what has arrived.
    const uint32_t interval = line_->timeouts_.ReadIntervalTimeout;
    if (interval == 0 || interval == kInfinite) return ReadStatus::kData;
    while (got < capacity) {
      if (!line_->toNearArrived_.wait_for(lock, std::chrono::milliseconds(interval), ready)) break;
      // A close in mid-burst: the bytes already taken are handed out; the
      // next call fails.
      if (Dead()) break;
      Take(out, capacity, got);
    }
    return ReadStatus::kData;
  }

  void Close() override {
    {
      std::lock_guard<std::mutex> lock(line_->mutex_);
      if (closed_) return;
      closed_ = true;
      if (line_->nearOpen_ && line_->openGeneration_ == generation_) line_->nearOpen_ = false;
    }
    line_->NotifyAll();
  }

  int LastError() const override { return t_lastError; }

  bool GetInputArrived(uint64_t& total) override {
    std::lock_guard<std::mutex> lock(line_->mutex_);
    if (!Alive()) return false;
    // Bytes handed to reads plus those still queued, counted under one lock:
    // a byte is always in one of the two.
    total = taken_ + line_->toNear_.size();
    return true;
  }

 private:
  // Caller holds the line's mutex.
  bool Dead() const {
    return closed_ || !line_->plugged_ || line_->openGeneration_ != generation_;
  }
  // Caller holds the line's mutex; records why the port is dead.
  bool Alive() const {
    if (closed_) return Fail(kErrorOperationAborted);
    if (Dead()) return Fail(kErrorDeviceNotConnected);
    return true;
  }
  static bool Fail(int error) {
    t_lastError = error;
    return false;
  }
  void Take(uint8_t* out, size_t capacity, size_t& got) {
    auto& queue = line_->toNear_;
    const size_t n = std::min(capacity - got, queue.size());
    std::copy_n(queue.begin(), n, out + got);
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(n));
    got += n;
    taken_ += n;
  }

  const std::shared_ptr<SimLine> line_;
  const uint64_t generation_;
  bool closed_ = false;  // guarded by line_->mutex_
  uint64_t taken_ = 0;   // bytes handed to reads; guarded by line_->mutex_
};

SimLine::SimLine() {
  // An unused port: 9600 8N1, no handshake, DTR and RTS on.
  settings_.DCBlength = 28;
  settings_.BaudRate = 9600;
  settings_.fBinary = 1;
  settings_.fDtrControl = DTR_CONTROL_ENABLE;
  settings_.fRtsControl = RTS_CONTROL_ENABLE;
  settings_.ByteSize = 8;
  settings_.Parity = NOPARITY;
  settings_.StopBits = ONESTOPBIT;
  // A read completes 1 ms after the last byte of a burst until told otherwise.
  timeouts_.ReadIntervalTimeout = 1;
}

std::shared_ptr<SimLine> SimLine::Create() { return std::shared_ptr<SimLine>(new SimLine()); }

template <typename Stop>
bool SimLine::WaitUntil(std::unique_lock<std::mutex>& lock, Clock::time_point when, Stop stop) {
  return !changed_.wait_until(lock, when, stop);
}

SimLine::Clock::time_point SimLine::Reserve(Clock::time_point& wireFree, size_t count) const {
  // An idle wire starts now; a busy one continues from its deadline, so time
  // lost to late wake-ups is made up by the next bytes.
  const auto now = Clock::now();
  if (wireFree < now) wireFree = now;
  const uint64_t nanos = static_cast<uint64_t>(count) * 10u * 1'000'000'000u / pacingBps_;
  wireFree += std::chrono::nanoseconds(nanos);
  return wireFree;
}

void SimLine::NotifyAll() {
  changed_.notify_all();
  toNearArrived_.notify_all();
  toFarArrived_.notify_all();
}

void SimLine::SetCts(bool on) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cts_ = on;
  }
  NotifyAll();
}

void SimLine::SetDsr(bool on) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dsr_ != on) ++dsrChanges_;
    dsr_ = on;
  }
  NotifyAll();
}

void SimLine::SetPower(bool on) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cts_ = on;
    if (dsr_ != on) ++dsrChanges_;
    dsr_ = on;
  }
  NotifyAll();
}

bool SimLine::FarWrite(const void* data, size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::unique_lock<std::mutex> lock(mutex_);
  if (!plugged_ || !nearOpen_) return false;
  const uint64_t generation = openGeneration_;
  auto gone = [&] { return !plugged_ || !nearOpen_ || openGeneration_ != generation; };
  size_t done = 0;
  while (done < length) {
    size_t chunk = length - done;
    if (packetMax_ != 0) {
      // A packet of the adapter: its size and the pause before it.
      packetSeed_ = packetSeed_ * 1103515245u + 12345u;
      const size_t span = packetMax_ - packetMin_ + 1;
      chunk = std::min(chunk, packetMin_ + (packetSeed_ >> 8) % span);
      packetSeed_ = packetSeed_ * 1103515245u + 12345u;
      const uint32_t gapMicros =
          packetGapMicros_ == 0 ? 0 : (packetSeed_ >> 8) % (packetGapMicros_ + 1);
      const auto gap = std::chrono::microseconds(gapMicros);
      auto due = Clock::now() + gap;
      if (pacingBps_ != 0) due = std::max(due, Reserve(toNearWireFree_, chunk));
      if (!WaitUntil(lock, due, gone)) return false;
    } else if (pacingBps_ != 0) {
      chunk = std::min(chunk, PacingChunk(pacingBps_));
      if (!WaitUntil(lock, Reserve(toNearWireFree_, chunk), gone)) return false;
    }
    toNear_.insert(toNear_.end(), bytes + done, bytes + done + chunk);
    if (monitor_) monitor_(Direction::kToNear, bytes + done, chunk, Clock::now());
    done += chunk;
    toNearArrived_.notify_all();
  }
  return true;
}

void SimLine::PromoteFar(Clock::time_point now) const {
  // While the scanner holds CTS low nothing leaves; the writer takes its
  // chunks back and sends them once CTS rises.
  if (!cts_) return;
  bool any = false;
  while (!pendingFar_.empty() && pendingFar_.front().due <= now) {
    const FarChunk& chunk = pendingFar_.front();
    toFar_.insert(toFar_.end(), chunk.bytes.begin(), chunk.bytes.end());
    farLog_.insert(farLog_.end(), chunk.bytes.begin(), chunk.bytes.end());
    if (monitor_) monitor_(Direction::kToFar, chunk.bytes.data(), chunk.bytes.size(), chunk.due);
    pendingFar_.pop_front();
    any = true;
  }
  if (any) toFarArrived_.notify_all();
}

size_t SimLine::TakeBackFar(const void* writer) {
  size_t taken = 0;
  for (auto it = pendingFar_.begin(); it != pendingFar_.end();) {
    if (it->writer == writer) {
      taken += it->bytes.size();
      it = pendingFar_.erase(it);
    } else {
      ++it;
    }
  }
  if (taken > 0) {
    // The wire is free again after the last chunk still on its way, or now.
    toFarWireFree_ = Clock::time_point{};
    for (const FarChunk& chunk : pendingFar_) toFarWireFree_ = std::max(toFarWireFree_, chunk.wireEnd);
  }
  return taken;
}

size_t SimLine::FarRead(void* buffer, size_t capacity, uint32_t timeoutMs) {
  auto* out = static_cast<uint8_t*>(buffer);
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    PromoteFar(Clock::now());
    if (!toFar_.empty() || !plugged_) break;
    // Sleep until the next chunk on the wire arrives, or the time-out.
    if (timeoutMs == kInfinite) {
      if (pendingFar_.empty()) {
        toFarArrived_.wait(lock);
      } else {
        toFarArrived_.wait_until(lock, pendingFar_.front().due);
      }
      continue;
    }
    if (Clock::now() >= deadline) break;
    const auto wake = pendingFar_.empty() ? deadline : std::min(deadline, pendingFar_.front().due);
    toFarArrived_.wait_until(lock, wake);
  }
  const size_t n = std::min(capacity, toFar_.size());
  std::copy_n(toFar_.begin(), n, out);
  toFar_.erase(toFar_.begin(), toFar_.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

std::vector<uint8_t> SimLine::FarReceivedAll() const {
  std::lock_guard<std::mutex> lock(mutex_);
  PromoteFar(Clock::now());
  return farLog_;
}

size_t SimLine::FarReceivedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  PromoteFar(Clock::now());
  return farLog_.size();
}

void SimLine::SetMonitor(Monitor monitor) {
  std::lock_guard<std::mutex> lock(mutex_);
  monitor_ = std::move(monitor);
}

void SimLine::SetPacing(uint32_t bitsPerSecond) {
  std::lock_guard<std::mutex> lock(mutex_);
  pacingBps_ = bitsPerSecond;
}

void SimLine::Unplug() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    UnplugLocked();
  }
  NotifyAll();
}

void SimLine::UnplugLocked() {
  plugged_ = false;
  nearOpen_ = false;
  ++openGeneration_;  // the open port is dead for good
  toNear_.clear();
}

void SimLine::SetPacketizing(size_t minBytes, size_t maxBytes, uint32_t maxGapMicros,
                             uint32_t seed) {
  std::lock_guard<std::mutex> lock(mutex_);
  packetMin_ = std::max<size_t>(1, std::min(minBytes, maxBytes));
  packetMax_ = maxBytes;
  packetGapMicros_ = maxGapMicros;
  packetSeed_ = seed;
}

void SimLine::CutAtNearByte(uint64_t atByte, bool unplug) {
  std::lock_guard<std::mutex> lock(mutex_);
  cutAt_ = atByte;
  cutUnplugs_ = unplug;
}

void SimLine::CutLocked() {
  cutAt_ = 0;
  if (cutUnplugs_) {
    UnplugLocked();
    return;
  }
  cts_ = false;
  if (dsr_) ++dsrChanges_;
  dsr_ = false;
}

void SimLine::Replug() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    plugged_ = true;
  }
  NotifyAll();
}

void SimLine::FailReads(int error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    readFault_ = error;
  }
  NotifyAll();
}

bool SimLine::IsPluggedIn() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return plugged_;
}

bool SimLine::IsNearOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nearOpen_;
}

LineSettings SimLine::NearSettings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

CommTimeouts SimLine::NearTimeouts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timeouts_;
}

PortPtr SimLine::OpenNear(int& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!plugged_) {
    error = kErrorFileNotFound;
    return nullptr;
  }
  if (nearOpen_) {
    error = kErrorAccessDenied;
    return nullptr;
  }
  nearOpen_ = true;
  ++openGeneration_;
  // What the far end sent while nobody had the port open never arrived.
  toNear_.clear();
  error = 0;
  return std::make_shared<SimPort>(shared_from_this(), openGeneration_);
}

SimPortRegistry& SimPortRegistry::Instance() {
  static SimPortRegistry registry;
  return registry;
}

void SimPortRegistry::Add(const std::string& name, std::shared_ptr<SimLine> line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_[RegistryKey(name)] = std::move(line);
}

void SimPortRegistry::Remove(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.erase(RegistryKey(name));
}

void SimPortRegistry::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

std::shared_ptr<SimLine> SimPortRegistry::Find(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = lines_.find(RegistryKey(name));
  return it != lines_.end() ? it->second : nullptr;
}

std::vector<std::string> SimPortRegistry::Names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  for (const auto& entry : lines_) names.push_back(entry.first);
  return names;
}

void SimPortRegistry::InstallAsOpener() {
  InstallPortOpener([this](const std::string& name, int& error) -> PortPtr {
    std::shared_ptr<SimLine> line = Find(name);
    if (!line) {
      error = kErrorFileNotFound;
      return nullptr;
    }
    return line->OpenNear(error);
  });
}

}  // namespace platform::sim
