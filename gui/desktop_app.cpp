#include "desktop_app.h"

#include <QTimer>
#include <QWidget>

#include <atomic>
#include <csignal>

#include "about_box.h"
#include "app/programmer_app.h"
#include "app/programmer_dlg.h"
#include "dialog_units.h"
#include "main_window_view.h"
#include "platform/message_box.h"

namespace vtgui {

namespace {

// Set by an interrupt or termination request; the window thread closes the
// main window in order when it sees it, so the settings are saved and every
// port ends as on a close by the operator.
std::atomic<bool> g_closeRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnCloseSignal(int) { g_closeRequested.store(true); }

constexpr int kCloseRequestPollMs = 200;

}  // namespace

DesktopApp::DesktopApp(int& argc, char** argv) : app_(argc, argv) {
  QApplication::setApplicationName("Vantorel");
  QApplication::setWindowIcon(ApplicationIcon());
  QApplication::setFont(DialogFont());
  // The program ends when its main window has closed, not when the last
  // window goes: a box shown before the main window opens is the only
  // window for a moment.
  QApplication::setQuitOnLastWindowClosed(false);
  sink_ = new QtMessageSink(&app_);
  platform::InstallMessageSink(sink_);
}

DesktopApp::~DesktopApp() {
  platform::InstallMessageSink(nullptr);
  sink_->Shutdown();
}

int DesktopApp::Run(const std::function<void(MainWindowView&)>& prepare) {
  CProgrammerApp programmerApp;
  programmerApp.InitInstance();
  int result = 0;
  {
    CProgrammerDlg model;
    model.m_pPortList = programmerApp.m_pPortList.get();
    MainWindowView view(model, sink_);
    QObject::connect(&view, &MainWindowView::shutDownDone, &app_, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (prepare) prepare(view);
    view.Initialise();
    view.show();

    g_closeRequested = false;
    std::signal(SIGINT, OnCloseSignal);
    std::signal(SIGTERM, OnCloseSignal);
    QTimer closeRequests;
    QObject::connect(&closeRequests, &QTimer::timeout, &view, [&view] {
      if (!g_closeRequested.load() || view.IsShutDown()) return;
      // A modal window of a running command goes first (the sheet as by
      // Cancel); the main window follows at a later tick. The main window
      // answers the window thread's boxes itself.
      if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
      } else {
        view.close();
      }
    });
    closeRequests.start(kCloseRequestPollMs);

    result = QApplication::exec();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    // Ended from outside (the session is closing): close in order all the same.
    view.ShutDown();
  }
  programmerApp.ExitInstance();
  return result;
}

}  // namespace vtgui
