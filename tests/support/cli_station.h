// A station of vantorel-cli in-process: simulated scanners on sim lines under
// port names, a bench operator per scanner, the demo's sample firmware and a
// ZANDRIC.INI in a scratch folder, and the captured output lines.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/programmer_dlg.h"
#include "bench_operator.h"
#include "cli_app.h"
#include "demo_firmware.h"
#include "platform/serial_port.h"
#include "platform/sim/sim_line.h"
#include "scanner_sim.h"
#include "support/cli_fixture.h"

namespace clitest {

class StationFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(vtdemo::WriteDemoFiles(dir.Path(), files, error)) << error;
    auto& registry = platform::sim::SimPortRegistry::Instance();
    registry.Clear();
    registry.InstallAsOpener();
  }
  void TearDown() override {
    platform::sim::SimPortRegistry::Instance().Clear();
    platform::InstallPortOpener({});
  }

  struct Scanner {
    std::string port;  // the sim line's name (COM1, ZEV0)
    std::string model;
    std::shared_ptr<platform::sim::SimLine> line;
    std::unique_ptr<scanner::ScannerSim> sim;
  };

  // A simulated scanner on the line of that port name (the device prefix of a
  // USB name is dropped by the sim registry).
  void AddScanner(const std::string& port, const std::string& model,
                  scanner::ScannerConfig config) {
    auto s = std::make_unique<Scanner>();
    s->port = port;
    s->model = model;
    s->line = platform::sim::SimLine::Create();
    platform::sim::SimPortRegistry::Instance().Add(port, s->line);
    s->sim = std::make_unique<scanner::ScannerSim>(s->line, config);
    scanners.push_back(std::move(s));
  }

  // Programs the named ports, each with the scanner added under its name and
  // an operator for it (none when withOperators is false). Returns the
  // station's exit code; the output is in out.
  int RunStation(const std::vector<std::string>& names, bool withOperators = true,
                 const std::atomic<int>* interrupts = nullptr,
                 const vtcli::Station::StatusListener& alsoTell = {}) {
    vtcli::Console console(out.File(), false);
    console.SetLineObserver([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(printedMutex_);
      printed_.push_back(line);
    });
    vtcli::PrintingMessageSink sink(console);
    vtcli::ScopedMessageSink installed(&sink);
    CProgrammerDlg dlg;
    vtcli::LoadStationSettings(dlg, dir.Path());
    vtdemo::Bench bench(true, names.size());
    std::vector<std::unique_ptr<vtdemo::BenchOperator>> operators;
    std::vector<vtcli::PortSpec> specs;
    for (size_t i = 0; i < names.size(); ++i) {
      vtcli::PortSpec spec;
      EXPECT_TRUE(vtcli::ParsePortName(names[i], spec)) << names[i];
      specs.push_back(spec);
      Scanner* scanner = nullptr;
      for (auto& s : scanners) {
        if (s->port == spec.name) scanner = s.get();
      }
      if (withOperators && scanner != nullptr) {
        scanner::ScannerSim* sim = scanner->sim.get();
        operators.push_back(std::make_unique<vtdemo::BenchOperator>(
            i, spec.name, scanner->model,
            [sim](bool on) {
              if (on) {
                sim->PowerOn();
              } else {
                sim->PowerOff();
              }
            },
            bench, [&console](const std::string& line) { console.Line(line); }, 20));
      } else {
        operators.push_back(nullptr);
        bench.Leave(i);
      }
    }
    int result;
    {
      vtcli::Station station(dlg, console);
      station.SetStatusListener([&operators, &alsoTell](size_t port, const std::string& status) {
        if (operators[port]) operators[port]->OnStatus(status);
        if (alsoTell) alsoTell(port, status);
      });
      for (const vtcli::PortSpec& spec : specs) station.AddPort(spec);
      station.StartAll();
      result = station.Run(interrupts);
      summary = station.Summary();
    }
    operators.clear();
    return result;
  }

  void WriteIni(const std::string& content) { WriteFile(files.ini, content); }

  // The lines printed so far, safe to read while the station runs.
  std::vector<std::string> Printed() const {
    std::lock_guard<std::mutex> lock(printedMutex_);
    return printed_;
  }
  bool WasPrinted(const std::string& line) const { return IndexOf(Printed(), line) >= 0; }

  ScratchDir dir;
  vtdemo::DemoFiles files;
  std::vector<std::unique_ptr<Scanner>> scanners;
  CapturedStream out;
  std::vector<std::string> summary;  // the station's summary table after the run

 private:
  mutable std::mutex printedMutex_;  // guards printed_
  std::vector<std::string> printed_;
};

}  // namespace clitest
