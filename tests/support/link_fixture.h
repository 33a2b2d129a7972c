// Test helpers for everything that runs on a port panel: one port on an
// in-memory sim line, with the line registered under the port's name and the
// sim opener installed, message boxes recorded, a main window model and the
// panel itself. Tests drive the far end of the line (the scanner's side)
// themselves, or with the small wake-up responder below, or with the scanner
// loader simulator.
//
//   linktest::LinkRig rig;                 // COM3, row 3 of g_portTable
//   CCommDialog& panel = rig.CreatePanel();
//   rig.line->SetPower(true);
//   panel.Start();
//   ASSERT_TRUE(linktest::WaitUntil([&] { return panel.m_bButtonEnabled.load(); }));
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "link/handshake.h"
#include "link/receiver.h"
#include "platform/message_recorder.h"
#include "platform/serial_port.h"
#include "platform/sim/sim_line.h"
#include "platform/time.h"
#include "ports/comm_sport.h"
#include "support/scratch_dir.h"

namespace linktest {

// A generous real-time limit for waits in tests: long enough for a loaded
// machine under ThreadSanitizer, never part of what a test asserts.
constexpr int kPatienceMs = 10000;

// Polls until the condition holds; false when the limit passed first.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kPatienceMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Sets the process time scale for a scope.
class ScopedTimeScale {
 public:
  explicit ScopedTimeScale(double scale) : previous_(platform::TimeScale()) {
    platform::SetTimeScale(scale);
  }
  ~ScopedTimeScale() { platform::SetTimeScale(previous_); }
  ScopedTimeScale(const ScopedTimeScale&) = delete;
  ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;

 private:
  double previous_;
};

// Runs a function on a thread and joins it at the end of the scope.
class Background {
 public:
  explicit Background(std::function<void()> body) : thread_(std::move(body)) {}
  ~Background() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

 private:
  std::thread thread_;
};

inline std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// One port on a sim line, with everything a panel needs around it.
class LinkRig {
 public:
  explicit LinkRig(std::string portName = "COM3", uint16_t portIndex = 3)
      : portName(std::move(portName)), portIndex(portIndex) {
    line = platform::sim::SimLine::Create();
    platform::sim::SimPortRegistry::Instance().Clear();
    platform::sim::SimPortRegistry::Instance().Add(this->portName, line);
    platform::sim::SimPortRegistry::Instance().InstallAsOpener();
    g_portTable[portIndex - 1] = COMM_SPORT{};
    // The result record of every run goes to the program folder: a scratch
    // one, never the folder the tests run in.
    std::snprintf(mainDlg.m_szAppDir, sizeof mainDlg.m_szAppDir, "%s", appDir.Path().c_str());
    g_bClosing.store(false);
    mainDlg.SetPreloadDefaults();
  }

  ~LinkRig() {
    DestroyPanel();
    g_portTable[portIndex - 1] = COMM_SPORT{};
    g_bClosing.store(false);
    platform::sim::SimPortRegistry::Instance().Clear();
    platform::InstallPortOpener({});
  }
  LinkRig(const LinkRig&) = delete;
  LinkRig& operator=(const LinkRig&) = delete;

  // Creates the panel as the main window does: the row of g_portTable first,
  // then the panel (whose initialisation reads the row). A USB panel is given
  // the device path (\\.\COM3) as its name, and so opens its port and starts
  // identifying the scanner at once.
  CCommDialog& CreatePanel(bool usb = false, bool log = false) {
    DestroyPanel();
    COMM_SPORT& row = g_portTable[portIndex - 1];
    row = COMM_SPORT{};
    row.bInUse = 1;
    row.bUsb = usb ? 1 : 0;
    row.bLog = log ? 1 : 0;
    const std::string name = usb ? "\\\\.\\" + portName : portName;
    panel = std::make_unique<CCommDialog>(portIndex, name.c_str(), &mainDlg);
    row.pPanel = panel.get();
    return *panel;
  }

  // The panel's teardown; stops a receiver started by StartReceiverOnly first.
  void DestroyPanel() {
    StopReceiver();
    if (panel) {
      g_portTable[portIndex - 1].pPanel = nullptr;
      panel.reset();
    }
  }

  // Opens the port and runs the receiver alone, with receive forwarding on
  // and its gate open unless told otherwise: for tests of the receive path
  // and of everything that consumes the ring on the test's own thread.
  void StartReceiverOnly(bool gateOpen = true) {
    StopReceiver();
    panel->OpenPort();
    panel->m_session.m_hExitEvent->Reset();
    panel->m_session.m_bAbort.store(false);
    panel->m_session.m_bRxActive.store(true);
    panel->m_session.m_rxBuffer.Reset();
    panel->m_bRecvDone.store(false);
    if (gateOpen) panel->m_session.m_hReceiveEvent->Set();
    receiver_ = std::thread([p = panel.get()] {
      rcvProc(p->m_session, *p);
      p->m_bRecvDone.store(true);
    });
  }

  void StopReceiver() {
    if (!receiver_.joinable()) return;
    panel->m_session.m_hExitEvent->Set();
    receiver_.join();
    panel->m_session.m_hExitEvent->Reset();
  }

  // Bytes put into the ring as the receiver delivers a block.
  bool PutInRing(const std::string& bytes) {
    if (!panel->m_session.m_rxBuffer.Write(reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<unsigned>(bytes.size()))) {
      return false;
    }
    panel->m_session.m_hDataEvent->Set();
    return true;
  }

  // Everything the program wrote to the scanner so far.
  std::string FarReceived() const { return Text(line->FarReceivedAll()); }

  std::string portName;
  uint16_t portIndex;
  std::shared_ptr<platform::sim::SimLine> line;
  platform::ScopedMessageRecorder boxes;
  testsupport::ScratchDir appDir;
  CProgrammerDlg mainDlg;
  std::unique_ptr<CCommDialog> panel;

 private:
  std::thread receiver_;
};

// A gtest fixture around one rig.
class LinkFixture : public ::testing::Test {
 protected:
  LinkRig rig;
};

// A minimal stand-in for a scanner loader: answers each group of four
// wake-up characters with the next of its replies (the last one repeats),
// and records every other byte it receives. Only for tests of the
// handshake; the scanner loader simulator stands in for the whole loader.
class WakeUpResponder {
 public:
  WakeUpResponder(std::shared_ptr<platform::sim::SimLine> line, std::vector<std::string> replies)
      : line_(std::move(line)), replies_(std::move(replies)), thread_([this] { Serve(); }) {}
  ~WakeUpResponder() {
    stop_.store(true);
    thread_.join();
  }
  WakeUpResponder(const WakeUpResponder&) = delete;
  WakeUpResponder& operator=(const WakeUpResponder&) = delete;

  int WakeUps() const { return wakeUps_.load(); }
  // Bytes received other than the wake-up characters.
  std::string Others() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return others_;
  }

 private:
  void Serve() {
    int stars = 0;
    while (!stop_.load()) {
      uint8_t buffer[256];
      const size_t n = line_->FarRead(buffer, sizeof buffer, 20);
      for (size_t i = 0; i < n; ++i) {
        if (buffer[i] != '*') {
          std::lock_guard<std::mutex> lock(mutex_);
          others_.push_back(static_cast<char>(buffer[i]));
          continue;
        }
        if (++stars % 4 != 0) continue;
        const int index = wakeUps_.fetch_add(1);
        if (replies_.empty()) continue;
        const std::string& reply = replies_[std::min<size_t>(index, replies_.size() - 1)];
        if (!reply.empty()) line_->FarWrite(reply);
      }
    }
  }

  std::shared_ptr<platform::sim::SimLine> line_;
  std::vector<std::string> replies_;
  std::atomic<bool> stop_{false};
  std::atomic<int> wakeUps_{0};
  mutable std::mutex mutex_;  // guards others_
  std::string others_;
  std::thread thread_;
};

}  // namespace linktest
