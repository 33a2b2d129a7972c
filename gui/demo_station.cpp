#include "demo_station.h"

#include <QTimer>

#include "app/comm_dialog.h"
#include "main_window_view.h"

namespace vtgui {

DemoStation::DemoStation(const DemoOptions& options) : options_(options) {}

DemoStation::~DemoStation() {
  StepBack();
  persons_.clear();
}

bool DemoStation::Prepare(std::string& error) {
  if (!bench_.Prepare("vantorel-desktop-demo", options_.firmwareBytes, options_.lineBitsPerSecond,
                      error)) {
    return false;
  }
  for (size_t i = 0; i < bench_.Count(); ++i) {
    persons_.push_back(
        std::make_unique<vtdemo::SimOperator>(*bench_.Plugged(i).sim, options_.reactionMs));
  }
  return true;
}

void DemoStation::Attach(MainWindowView& view) {
  connect(&view, &MainWindowView::panelCreated, this, &DemoStation::OnPanelCreated);
  connect(&view, &MainWindowView::usbSearchStarted, this, [this] {
    // The operator switches the USB scanner on as the prompt asks; its
    // driver then lists it.
    QTimer::singleShot(options_.reactionMs, this, [this] { bench_.PlugUsbScanner(); });
  });
  connect(&view, &MainWindowView::aboutToShutDown, this, &DemoStation::StepBack);
}

void DemoStation::OnPanelCreated(CCommDialog* panel) {
  for (size_t i = 0; i < persons_.size(); ++i) {
    if (PanelName(i) == panel->m_session.m_szPortName) persons_[i]->Attach(panel);
  }
}

void DemoStation::StepBack() {
  for (const auto& person : persons_) person->Detach();
}

}  // namespace vtgui
