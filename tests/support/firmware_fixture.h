// Helpers for the firmware file and image record tests: a scratch folder with
// files written into it, and a port panel on an in-memory line whose far end
// shows what reached the scanner, with the message boxes recorded.
#pragma once

#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "platform/message_recorder.h"
#include "platform/serial_port.h"
#include "platform/sim/sim_line.h"

namespace fwtest {

namespace fs = std::filesystem;

using ScratchDir = testsupport::ScratchDir;

// A panel on an in-memory line named portName, its scanner (of the family)
// switched on and identified, its port open; status lines and progress
// positions are collected as they are set.
class SimPanel {
 public:
  explicit SimPanel(ScannerFamily family, const char* portName = "COM9", uint16_t portNumber = 9)
      : name_(portName) {
    line_ = platform::sim::SimLine::Create();
    platform::sim::SimPortRegistry::Instance().Add(name_, line_);
    platform::sim::SimPortRegistry::Instance().InstallAsOpener();
    line_->SetPower(true);
    dlg_ = std::make_unique<CProgrammerDlg>();
    panel_ = std::make_unique<CCommDialog>(portNumber, portName, dlg_.get());
    panel_->ShowIdentity(ScannerIdentity{.family = family});
    panel_->OpenPort();
    panel_->m_strStatus.SetObserver([this](const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      statuses_.push_back(text);
    });
    panel_->m_progress.SetObserver([this](int pos) {
      std::lock_guard<std::mutex> lock(mutex_);
      positions_.push_back(pos);
    });
  }
  ~SimPanel() {
    panel_.reset();
    platform::sim::SimPortRegistry::Instance().Remove(name_);
  }
  SimPanel(const SimPanel&) = delete;
  SimPanel& operator=(const SimPanel&) = delete;

  CCommDialog* Panel() { return panel_.get(); }
  CProgrammerDlg& Dlg() { return *dlg_; }
  platform::sim::SimLine& Line() { return *line_; }

  // Everything the program wrote to the scanner.
  std::string Received() const {
    const std::vector<uint8_t> bytes = line_->FarReceivedAll();
    return std::string(bytes.begin(), bytes.end());
  }
  std::vector<std::string> Statuses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
  }
  std::vector<int> Positions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return positions_;
  }

 private:
  std::string name_;
  std::shared_ptr<platform::sim::SimLine> line_;
  std::unique_ptr<CProgrammerDlg> dlg_;
  std::unique_ptr<CCommDialog> panel_;
  mutable std::mutex mutex_;  // guards statuses_ and positions_
  std::vector<std::string> statuses_;
  std::vector<int> positions_;
};

// A test with its message boxes recorded and a scratch folder for its files.
class FirmwareTest : public ::testing::Test {
 protected:
  platform::ScopedMessageRecorder boxes_;
  ScratchDir dir_;
};

// The byte values of a text, for readable comparisons of decoded bytes.
inline std::vector<int> Bytes(const uint8_t* data, size_t n) {
  return std::vector<int>(data, data + n);
}

}  // namespace fwtest
