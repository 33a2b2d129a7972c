// Shared pieces of the fuzz targets: one port session whose port records what
// the program writes instead of sending it anywhere, with a reporter that
// keeps the boxes (no panel, no main window: the link and update functions
// need only those two), a reader that takes the fuzz input apart field by
// field, and the oracles' own reading of S-record lines. The session lives
// for the whole fuzz process; every run empties it first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <optional>
#include <string_view>
#include <vector>
#include <unistd.h>

#include "link/port_session.h"
#include "link/run_reporter.h"
#include "platform/message_box.h"
#include "platform/message_recorder.h"
#include "platform/serial_port.h"

namespace fuzz {

// An oracle that does not hold: says which, and ends the run as a crash.
inline void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "oracle failed: %s\n", what);
  std::abort();
}

// A port with the scanner's lines up that keeps every byte written to it.
class RecordingPort : public platform::SerialPort {
 public:
  bool GetCommState(platform::LineSettings& settings) override {
    settings = settings_;
    return true;
  }
  bool SetCommState(const platform::LineSettings& settings) override {
    settings_ = settings;
    return true;
  }
  bool SetCommTimeouts(const platform::CommTimeouts&) override { return true; }
  bool GetCommModemStatus(uint32_t& status) override {
    status = platform::MS_CTS_ON | platform::MS_DSR_ON;
    return true;
  }
  bool ClearCommError() override { return true; }
  bool Write(const void* data, size_t length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    written_.append(static_cast<const char*>(data), length);
    return true;
  }
  platform::ReadStatus Read(void*, size_t, size_t& got, uint32_t) override {
    got = 0;
    return platform::ReadStatus::kTimeout;
  }
  void Close() override {}
  int LastError() const override { return 0; }

  std::string Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    out.swap(written_);
    return out;
  }
  size_t Written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_.size();
  }

 private:
  platform::LineSettings settings_{};
  mutable std::mutex mutex_;  // guards written_
  std::string written_;
};

// What the port's threads report, for the targets: boxes go to the process's
// message sink with the port's caption, as the panel's do; the rest is kept
// or dropped.
class Reporter final : public RunReporter {
 public:
  explicit Reporter(const PortSession& session) : session_(session) {}
  void ShowStatus(const std::string&) override {}
  void ShowClosingStatus(std::initializer_list<const char*>) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressPos(int) override {}
  void ShowError(const std::string& text) override { ::ShowError(session_.m_szPortName, text); }
  void ShowWarning(const std::string& text) override { ::ShowWarning(session_.m_szPortName, text); }
  void ShowApiError(const std::string& text, int errorCode) override {
    ::ShowApiError(session_.m_szPortName, text, errorCode);
  }
  void EnablePortButton(bool) override {}
  void BeginFlashWrite() override {}
  void EndFlashWrite() override {}
  void ShowIdentity(const ScannerIdentity& identity) override { identity_ = identity; }
  void ShowRunResult(int) override {}
  const ScannerIdentity& Identity() const { return identity_; }

 private:
  const PortSession& session_;
  ScannerIdentity identity_;
};

// The session of port COM3 on a recording port, opened (events made, line set).
class Station {
 public:
  static Station& Instance() {
    static Station* station = new Station;  // never destroyed: the fuzzer exits without unwinding
    return *station;
  }

  PortSession& Session() { return session_; }
  Reporter& Report() { return reporter_; }
  RecordingPort& Port() { return *port_; }

  // Empties what the last run left: written bytes, boxes, the ring and events.
  Station& Fresh() {
    port_->Take();
    boxes_.Clear();
    reporter_.ShowIdentity(ScannerIdentity{});
    session_.m_rxBuffer.Reset();
    session_.m_hDataEvent->Reset();
    session_.m_hExitEvent->Reset();
    session_.m_bAbort.store(false);
    return *this;
  }
  const platform::MessageRecorder& Boxes() const { return boxes_; }

 private:
  Station() : port_(std::make_shared<RecordingPort>()), session_("COM3", {}), reporter_(session_) {
    platform::InstallPortOpener([port = port_](const std::string&, int&) -> platform::PortPtr { return port; });
    session_.OpenPort();
  }

  platform::ScopedMessageRecorder boxes_;
  std::shared_ptr<RecordingPort> port_;
  PortSession session_;
  Reporter reporter_;
};

// A scratch file of this fuzz process. In memory where the system offers it:
// rewriting a file on a disk file system flushes it at every close, which
// would slow a target down a hundredfold.
// The file goes when the fuzzer exits at the end of its time.
inline std::string ScratchPath(const std::string& name) {
  const char* folder = std::getenv("VANTOREL_FUZZ_DIR");
  std::string dir = folder ? folder : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  static std::string path;  // one scratch file per target
  path = dir + "/vantorel_fuzz_" + std::to_string(getpid()) + "_" + name;
  std::atexit([] { std::remove(path.c_str()); });
  return path;
}

// Takes the fuzz input apart from the front; what is asked for past its end
// reads as zero bytes and empty texts.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  uint8_t Byte() {
    if (rest_.empty()) return 0;
    const uint8_t b = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  // A text of at most maxLength bytes, its length given by the next byte.
  std::string Text(size_t maxLength) { return Bytes(Byte() % (maxLength + 1)); }
  std::string Bytes(size_t n) {
    n = std::min(n, rest_.size());
    std::string out(rest_.substr(0, n));
    rest_.remove_prefix(n);
    return out;
  }
  std::string Rest() { return Bytes(rest_.size()); }

 private:
  std::string_view rest_;
};

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The value of digits hex digits at text[at]; nothing when one is not hex or
// the text is too short.
inline std::optional<uint64_t> Hex(std::string_view text, size_t at, size_t digits) {
  if (at + digits > text.size()) return std::nullopt;
  uint64_t value = 0;
  for (size_t i = 0; i < digits; ++i) {
    const int d = HexDigit(text[at + i]);
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<uint64_t>(d);
  }
  return value;
}

// The bytes of an S-record line without its line end (byte count first,
// checksum last) when its digits, byte count and checksum agree.
inline std::optional<std::vector<uint8_t>> RecordBytes(std::string_view line) {
  if (line.size() < 4 || line[0] != 'S' || line.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t at = 2; at < line.size(); at += 2) {
    const auto b = Hex(line, at, 2);
    if (!b) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(*b));
  }
  if (bytes[0] + 1u != bytes.size()) return std::nullopt;
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
  if (static_cast<uint8_t>(~sum) != bytes.back()) return std::nullopt;
  return bytes;
}

// The four-byte big-endian number at bytes[at].
inline uint32_t BigEndian32(const std::vector<uint8_t>& bytes, size_t at) {
  return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) |
         bytes[at + 3];
}

}  // namespace fuzz
