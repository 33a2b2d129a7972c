// Helpers for the offscreen tests of the views: waiting with the event loop
// running, and a station fixture that stands the demo bench (sim lines,
// scanners, firmware, ZANDRIC.INI in a fresh program folder) in front of a
// real main window model and view. Message boxes are recorded and answered
// at once unless a test installs the desktop sink itself.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/programmer_app.h"
#include "app/programmer_dlg.h"
#include "demo_station.h"
#include "app/comm_dialog.h"
#include "main_window_view.h"
#include "platform/message_recorder.h"
#include "port_panel_view.h"
#include "qt_message_sink.h"
#include "ports/comm_sport.h"

namespace guitest {

// Generous real-time limit for a wait in a test: long enough for a loaded
// machine under ThreadSanitizer.
constexpr int kWaitMs = 30000;

// Runs the event loop until condition holds; false when it did not within
// timeoutMs.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    // Windows closed by deleteLater go here too, as in the program's loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::msleep(5);
  }
  return true;
}

// Runs action on the modal window that a call made right after this opens
// (the sheet, the About box), once its own event loop runs.
inline void WhenModal(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    timer->stop();
    timer->deleteLater();
    action(modal);
  });
  timer->start();
}

class StationFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    if (view) view->ShutDown();
    // Port threads of the test still waiting for a box are let go first.
    if (desktopSink) desktopSink->Shutdown();
    for (std::thread& thread : threads) thread.join();
    threads.clear();
    view.reset();
    model.reset();
    app.ExitInstance();
    station.reset();
    if (desktopSink) {
      platform::InstallMessageSink(&boxes);
      desktopSink.reset();
      sinkForView = nullptr;
    }
    for (COMM_SPORT& row : g_portTable) row = COMM_SPORT{};
  }

  // Real boxes, as the desktop program shows them, in place of the recorder;
  // the main window made next closes them when it closes.
  void UseDesktopSink() {
    desktopSink = std::make_unique<vtgui::QtMessageSink>();
    platform::InstallMessageSink(desktopSink.get());
    sinkForView = desktopSink.get();
  }

  // The bench with these options, and the main window over it, initialised.
  // withOperators: the simulated operators work the power switches;
  // otherwise the test does. beforeInitialise runs in the program folder
  // right before the main window's initialisation (to change ZANDRIC.INI).
  void OpenStation(const vtgui::DemoOptions& options, bool withOperators,
                   const std::function<void()>& beforeInitialise = {}) {
    station = std::make_unique<vtgui::DemoStation>(options);
    std::string error;
    ASSERT_TRUE(station->Prepare(error)) << error;
    if (beforeInitialise) beforeInitialise();
    app.InitInstance();
    model = std::make_unique<CProgrammerDlg>();
    model->m_pPortList = app.m_pPortList.get();
    view = std::make_unique<vtgui::MainWindowView>(*model, sinkForView);
    if (withOperators) station->Attach(*view);
    view->Initialise();
    view->show();
    // The window is framed and laid out once its queued work has run.
    QApplication::processEvents();
  }

  vtgui::PortPanelView* PanelNamed(const std::string& name) const {
    for (vtgui::PortPanelView* panel : view->Panels()) {
      if (panel->Model() != nullptr && name == panel->Model()->m_session.m_szPortName) return panel;
    }
    return nullptr;
  }

  platform::ScopedMessageRecorder boxes;
  std::unique_ptr<vtgui::QtMessageSink> desktopSink;
  vtgui::QtMessageSink* sinkForView = nullptr;
  // Threads a test starts; joined at its end, after the boxes were released.
  std::vector<std::thread> threads;
  std::unique_ptr<vtgui::DemoStation> station;
  CProgrammerApp app;
  std::unique_ptr<CProgrammerDlg> model;
  std::unique_ptr<vtgui::MainWindowView> view;
};

}  // namespace guitest
