#include "desktop_app.h"

#include "about_box.h"
#include "app/programmer_app.h"
#include "app/programmer_dlg.h"
#include "dialog_units.h"
#include "main_window_view.h"
#include "platform/message_box.h"

namespace vtgui {

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
    result = QApplication::exec();
    // Ended from outside (the session is closing): close in order all the same.
    view.ShutDown();
  }
  programmerApp.ExitInstance();
  return result;
}

}  // namespace vtgui
