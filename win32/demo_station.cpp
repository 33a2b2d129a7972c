#include "demo_station.h"

#include <cstdio>

#include "app/comm_dialog.h"
#include "bench_operator.h"
#include "main_window.h"
#include "scanner_sim.h"

namespace vtwin {

DemoStation::DemoStation(const DemoOptions& options) : options_(options) {}

DemoStation::~DemoStation() {
  StepBack();
  persons_.clear();
  turns_.reset();
}

bool DemoStation::Prepare(std::string& error) {
  if (!bench_.Prepare("vantorel-win32-demo", options_.firmwareBytes, options_.lineBitsPerSecond,
                      error)) {
    return false;
  }
  panels_.assign(bench_.Count(), nullptr);
  if (!options_.operators) return true;
  turns_ = std::make_unique<vtdemo::Bench>(std::vector<size_t>(bench_.Count(), 0));
  for (size_t i = 0; i < bench_.Count(); ++i) {
    scanner::ScannerSim* sim = bench_.Plugged(i).sim.get();
    persons_.push_back(std::make_unique<vtdemo::BenchOperator>(
        i, bench_.Plugged(i).port, bench_.Model(i),
        [sim](bool on) {
          if (on) {
            sim->PowerOn();
          } else {
            sim->PowerOff();
          }
        },
        *turns_,
        // The operators' words go to the console the program was started
        // from, if any.
        [](const std::string& line) {
          std::fputs((line + "\n").c_str(), stdout);
          std::fflush(stdout);
        },
        options_.reactionMs));
  }
  return true;
}

void DemoStation::Attach(MainWindow& window) {
  MainWindow::Listener listener;
  listener.panelCreated = [this](CCommDialog* panel) { OnPanelCreated(panel); };
  // The operator switches the USB scanner on as the prompt asks; its driver
  // then lists it.
  listener.usbSearchStarted = [this] { bench_.PlugUsbScanner(); };
  listener.aboutToShutDown = [this] { StepBack(); };
  window.SetListener(std::move(listener));
}

void DemoStation::OnPanelCreated(CCommDialog* panel) {
  for (size_t i = 0; i < persons_.size(); ++i) {
    if (PanelName(i) != panel->m_session.m_szPortName) continue;
    panels_[i] = panel;
    // The operator reads every status text the port's threads show.
    panel->m_strStatus.SetObserver(
        [person = persons_[i].get()](const std::string& status) { person->OnStatus(status); });
  }
}

void DemoStation::StepBack() {
  for (CCommDialog*& panel : panels_) {
    if (panel != nullptr) panel->m_strStatus.SetObserver({});
    panel = nullptr;
  }
  if (turns_) turns_->Shutdown();
}

}  // namespace vtwin
