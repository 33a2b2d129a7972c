// Several ports of one station at once: one main window model, a panel per
// port on its own sim line with the scanner loader simulator of its family
// behind it, and the test as every scanner's operator (power on when the
// panel asks, power cycle when it asks). Each panel's status texts are kept
// apart, so a test can tell what each port showed.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "link_fixture.h"
#include "platform/message_recorder.h"
#include "platform/sim/sim_line.h"
#include "ports/comm_sport.h"
#include "scanner_sim.h"
#include "status_trail.h"
#include "update_fixture.h"

namespace updtest {

class StationRig {
 public:
  struct Port {
    std::string name;
    uint16_t index = 0;  // row index + 1 in g_portTable
    std::shared_ptr<platform::sim::SimLine> line;
    std::unique_ptr<scanner::ScannerSim> sim;
    std::unique_ptr<CCommDialog> panel;
    bool everOn = false;
    int cyclesDone = 0;

    std::vector<std::string> Statuses() const { return trail.All(); }
    bool StatusSeen(const std::string& text) const { return trail.Seen(text); }
    int CycleRequests() const { return trail.Count(kCycleText); }
    // The run's outcome text, or "" while it runs.
    std::string Outcome() const {
      if (StatusSeen(kDoneText)) return kDoneText;
      if (StatusSeen(kFailedText)) return kFailedText;
      return "";
    }

    StatusTrail trail;
  };

  StationRig() {
    // The runs' result record goes to a scratch program folder.
    std::snprintf(settings.m_szAppDir, sizeof settings.m_szAppDir, "%s", appDir.Path().c_str());
    auto& registry = platform::sim::SimPortRegistry::Instance();
    registry.Clear();
    registry.InstallAsOpener();
    g_bClosing.store(false);
    settings.SetPreloadDefaults();
  }
  ~StationRig() {
    // The panels' threads may still write their status; they end here, before
    // the histories they write into go.
    for (auto& port : ports_) DestroyPanel(*port);
    ports_.clear();
    platform::sim::SimPortRegistry::Instance().Clear();
    platform::InstallPortOpener({});
  }
  StationRig(const StationRig&) = delete;
  StationRig& operator=(const StationRig&) = delete;

  // A port COM<index> with a scanner of that configuration behind it,
  // switched off; its panel is made by CreatePanel.
  Port& AddPort(uint16_t index, const scanner::ScannerConfig& config) {
    auto port = std::make_unique<Port>();
    port->name = "COM" + std::to_string(index);
    port->index = index;
    port->line = platform::sim::SimLine::Create();
    platform::sim::SimPortRegistry::Instance().Add(port->name, port->line);
    port->sim = std::make_unique<scanner::ScannerSim>(port->line, config);
    ports_.push_back(std::move(port));
    return *ports_.back();
  }

  // Makes the port's panel as the main window does. A USB panel identifies
  // its scanner at once.
  CCommDialog& CreatePanel(Port& port, bool usb = false) {
    COMM_SPORT& row = g_portTable[port.index - 1];
    row = COMM_SPORT{};
    row.bInUse = 1;
    row.bUsb = usb ? 1 : 0;
    const std::string name = usb ? "\\\\.\\" + port.name : port.name;
    port.panel = std::make_unique<CCommDialog>(port.index, name.c_str(), &settings);
    row.pPanel = port.panel.get();
    port.panel->m_strStatus.SetObserver([&port](const std::string& text) { port.trail.Add(text); });
    return *port.panel;
  }

  // One round of the operators: each switches its scanner on when its panel
  // asks the first time, and cycles its power when the panel asks for that
  // (only while cycling is allowed for that port).
  void Operate(const std::vector<bool>& mayCycle = {}) {
    for (size_t i = 0; i < ports_.size(); ++i) {
      Port& port = *ports_[i];
      if (!port.panel) continue;
      if (!port.everOn && port.StatusSeen("Turn scanner power on")) {
        port.sim->PowerOn();
        port.everOn = true;
      }
      const bool cycleAllowed = i >= mayCycle.size() || mayCycle[i];
      if (cycleAllowed && port.CycleRequests() > port.cyclesDone) {
        port.sim->PowerOff();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        port.sim->PowerOn();
        ++port.cyclesDone;
      }
    }
  }

  // Operates until the condition holds; false when the patience ran out.
  bool OperateUntil(const std::function<bool()>& condition, const std::vector<bool>& mayCycle = {},
                    int patienceMs = kRunPatienceMs) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      Operate(mayCycle);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  // Operates until every panel shows its run's outcome.
  bool RunAll(int patienceMs = kRunPatienceMs) {
    return OperateUntil(
        [this] {
          for (const auto& port : ports_) {
            if (port->panel && port->Outcome().empty()) return false;
          }
          return true;
        },
        {}, patienceMs);
  }

  Port& operator[](size_t i) { return *ports_.at(i); }

  platform::ScopedMessageRecorder boxes;
  testsupport::ScratchDir appDir;
  CProgrammerDlg settings;

 private:
  void DestroyPanel(Port& port) {
    if (!port.panel) return;
    g_portTable[port.index - 1] = COMM_SPORT{};
    port.panel.reset();
  }

  std::vector<std::unique_ptr<Port>> ports_;
};

}  // namespace updtest
