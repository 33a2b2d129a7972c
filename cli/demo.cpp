#include "demo.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/programmer_dlg.h"
#include "bench_operator.h"
#include "demo_firmware.h"
#include "app/comm_dialog.h"
#include "demo_rig.h"
#include "platform/sim/sim_line.h"
#include "platform/time.h"
#include "scanner_sim.h"

namespace vtcli {

namespace {

using Clock = std::chrono::steady_clock;

struct DemoScanner {
  const char* port;
  const char* model;
  scanner::ScannerConfig (*config)();
  size_t turn;  // scanners of one turn are switched on together
};

// The QZ500 needs an RCP image without the tag a QZ600's carries, from the
// same first-generation settings: it has a turn of its own.
const DemoScanner kScanners[] = {
    {"COM1", "QZ600", &scanner::ScannerConfig::QZ600, 0},
    {"COM2", "MV2", &scanner::ScannerConfig::MV2, 0},
    {"COM3", "QZ500", &scanner::ScannerConfig::QZ500, 1},
};

// Restores what the demo changes process-wide: the port opener, the sim port
// names and the time scale.
class DemoProcessState {
 public:
  explicit DemoProcessState(double timeScale) : scale_(platform::TimeScale()) {
    platform::SetTimeScale(timeScale);
  }
  ~DemoProcessState() {
    platform::sim::SimPortRegistry::Instance().Clear();
    platform::InstallPortOpener({});
    platform::SetTimeScale(scale_);
  }

 private:
  double scale_;
};

}  // namespace

int RunDemo(const DemoOptions& options, const Environment& env) {
  namespace fs = std::filesystem;
  const bool ownFolder = options.folder.empty();
  const fs::path folder = ownFolder ? vtdemo::MakeStationFolder("vantorel-demo") : fs::path(options.folder);
  if (folder.empty()) {
    std::fprintf(env.err, "vantorel-cli: cannot make a demo folder under %s\n",
                 fs::temp_directory_path().string().c_str());
    return kExitFailed;
  }
  vtdemo::DemoFiles files;
  std::string error;
  if (!vtdemo::WriteDemoFiles(folder.string(), files, error)) {
    std::fprintf(env.err, "vantorel-cli: %s\n", error.c_str());
    std::error_code ec;
    if (ownFolder) fs::remove_all(folder, ec);
    return kExitFailed;
  }

  Console console(env.out, env.terminal);
  PrintingMessageSink sink(console);
  ScopedMessageSink installed(&sink);
  console.Line("Demo station in " + folder.string() +
               ": a QZ600 on COM1, an MV2 on COM2 and a QZ500 on COM3, simulated.");
  console.Line(
      "All port buttons are pressed at once; the QZ600 and the MV2 are switched on together, "
      "as their panels ask, and the QZ500 takes its turn after the QZ600.");

  int result = kExitFailed;
  std::vector<bool> succeeded(std::size(kScanners), false);
  {
    DemoProcessState processState(options.timeScale);
    auto& registry = platform::sim::SimPortRegistry::Instance();
    std::vector<vtdemo::SimScanner> scanners;
    for (const DemoScanner& demo : kScanners) {
      scanners.push_back(vtdemo::PlugSimScanner(demo.port, demo.config(), options.lineBitsPerSecond));
    }
    registry.InstallAsOpener();

    CProgrammerDlg dlg;
    LoadStationSettings(dlg, folder.string());

    std::vector<size_t> turns;
    for (const DemoScanner& demo : kScanners) turns.push_back(demo.turn);
    vtdemo::Bench bench(turns);
    std::vector<std::unique_ptr<vtdemo::BenchOperator>> operators;
    for (size_t i = 0; i < std::size(kScanners); ++i) {
      const DemoScanner& demo = kScanners[i];
      // QZ500 and QZ600 share the first-generation settings, but a QZ500 takes
      // only an RCP image without the QZ6 tag: the operator picks the image
      // for the model on the bench, as the Setup sheet would. A run copies
      // its settings once its scanner is identified, so the change reaches
      // only runs identified after it.
      std::function<void()> beforePowerOn;
      const std::string model = demo.model;
      if (model == "QZ500" || model == "QZ600") {
        const std::string rcp = model == "QZ500" ? files.qz500Rcp : files.qz600Rcp;
        beforePowerOn = [&dlg, &console, rcp, port = std::string(demo.port)] {
          if (dlg.m_strRcpFileQZ6.Get() == rcp) return;
          console.Line(port + ": operator selects " + fs::path(rcp).filename().string() +
                       " as the first-generation RCP image");
          dlg.m_strRcpFileQZ6.Set(rcp);
        };
      }
      scanner::ScannerSim* sim = scanners[i].sim.get();
      operators.push_back(std::make_unique<vtdemo::BenchOperator>(
          i, demo.port, demo.model,
          [sim](bool on) {
            if (on) {
              sim->PowerOn();
            } else {
              sim->PowerOff();
            }
          },
          bench, [&console](const std::string& line) { console.Line(line); }, options.reactionMs,
          std::move(beforePowerOn)));
    }

    // The demo's own stop requests: the operator's Ctrl-C, or the time limit.
    std::atomic<int> interrupts{0};
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
      const auto limit = Clock::now() + std::chrono::seconds(options.timeLimitSeconds);
      bool limitReached = false;
      while (!finished.load()) {
        int outside = env.interrupts != nullptr ? env.interrupts->load() : 0;
        if (!limitReached && Clock::now() >= limit) {
          limitReached = true;
          console.Line("demo: time limit reached");
        }
        int wanted = limitReached ? 2 : outside;
        if (wanted > interrupts.load()) interrupts.store(wanted);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });

    {
      Station station(dlg, console);
      station.SetStatusListener([&operators](size_t port, const std::string& status) {
        operators[port]->OnStatus(status);
      });
      for (const DemoScanner& demo : kScanners) {
        PortSpec spec;
        ParsePortName(demo.port, spec);
        station.AddPort(spec);
      }
      station.StartAll();
      {
        ScopedStationWaiting waiting(env);
        result = station.Run(&interrupts);
      }
      for (const std::string& line : station.Summary()) console.Line(line);
      for (size_t i = 0; i < station.PortCount(); ++i) succeeded[i] = station.Succeeded(i);
    }
    finished = true;
    watchdog.join();
    operators.clear();
    scanners.clear();
  }

  std::string summary = "Demo result:";
  for (size_t i = 0; i < std::size(kScanners); ++i) {
    summary += std::string(i ? "," : "") + " " + kScanners[i].port + " " + kScanners[i].model +
               (succeeded[i] ? " programmed" : " failed");
  }
  console.Line(summary);
  if (ownFolder) {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  return result;
}

}  // namespace vtcli
