// vantorel-screenshots: pictures of the desktop station for the README,
// made from the demonstration bench on the offscreen platform. It brings
// the USB scanner in, presses every port button, and takes the main window
// while all three panels are programming, then the Setup sheet and the log
// window of COM1. Usage: vantorel-screenshots <output folder>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include <cstdio>
#include <functional>
#include <string>

#include "about_box.h"
#include "app/file_open_sheet.h"
#include "app/panel_menu.h"
#include "app/programmer_app.h"
#include "app/programmer_dlg.h"
#include "demo_station.h"
#include "dialog_units.h"
#include "app/comm_dialog.h"
#include "log_window_view.h"
#include "main_window_view.h"
#include "platform/message_recorder.h"
#include "port_panel_view.h"
#include "setup_sheet_view.h"

namespace {

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  return true;
}

// The offscreen platform draws no window frames: a plain caption bar with
// the window's icon and title is put above the window's contents.
QImage Framed(QWidget* window) {
  const QPixmap body = window->grab();
  const int bar = 24;
  const int border = 1;
  QImage image(body.width() + 2 * border, body.height() + bar + border, QImage::Format_RGB32);
  image.fill(QColor(60, 80, 120));
  QPainter painter(&image);
  QLinearGradient shade(0, 0, image.width(), 0);
  shade.setColorAt(0, QColor(40, 70, 130));
  shade.setColorAt(1, QColor(110, 140, 190));
  painter.fillRect(QRect(border, border, image.width() - 2 * border, bar - border), shade);
  const QIcon icon = window->windowIcon().isNull() ? vtgui::ApplicationIcon() : window->windowIcon();
  painter.drawPixmap(border + 4, border + 3, icon.pixmap(16, 16));
  QFont font = vtgui::DialogFont();
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(border + 26, border, image.width() - 30, bar - border),
                   Qt::AlignLeft | Qt::AlignVCenter, window->windowTitle());
  painter.drawPixmap(border, bar, body);
  return image;
}

bool Save(QWidget* window, const QString& path) {
  QApplication::processEvents();
  if (!Framed(window).save(path)) {
    std::fprintf(stderr, "vantorel-screenshots: cannot write %s\n", path.toLocal8Bit().constData());
    return false;
  }
  std::printf("%s\n", path.toLocal8Bit().constData());
  return true;
}

bool Fail(const char* what) {
  std::fprintf(stderr, "vantorel-screenshots: %s\n", what);
  return false;
}

bool MakeScreenshots(const QString& folder) {
  platform::ScopedMessageRecorder boxes;
  vtgui::DemoStation station{vtgui::DemoOptions{}};
  std::string error;
  if (!station.Prepare(error)) return Fail(error.c_str());

  CProgrammerApp programmerApp;
  programmerApp.InitInstance();
  bool ok = true;
  {
    CProgrammerDlg model;
    model.m_pPortList = programmerApp.m_pPortList.get();
    vtgui::MainWindowView view(model, nullptr);
    station.Attach(view);
    view.Initialise();
    view.show();

    view.UsbButton()->click();
    auto usbReady = [&] {
      return view.Panels().size() == 3 && view.Panels().back()->PortButton()->isEnabled() &&
             view.Panels().back()->Model()->m_strStatus.Get() ==
                 "Click USB COM button to start programming.";
    };
    ok = WaitUntil(usbReady, 60000) || Fail("the USB scanner did not connect");
    if (ok) {
      for (vtgui::PortPanelView* panel : view.Panels()) panel->PortButton()->click();
      // All three transferring, as the status lines show it.
      auto allMoving = [&] {
        for (vtgui::PortPanelView* panel : view.Panels()) {
          const int value = panel->Progress()->value();
          if (value <= 100 || value >= 900) return false;
          if (!panel->StatusLine()->text().contains("bytes/sec")) return false;
        }
        return true;
      };
      ok = WaitUntil(allMoving, 120000) || Fail("the panels were never all programming at once");
    }
    if (ok) ok = Save(&view, folder + "/desktop-main-window.png");

    if (ok) {
      CFileOpenPropSheet sheet;
      model.CopySettingsToSheet(sheet);
      sheet.OnInitDialog();
      vtgui::SetupSheetView sheetView(sheet, &view);
      sheetView.show();
      ok = Save(&sheetView, folder + "/desktop-setup-sheet.png");
      sheetView.reject();
    }

    if (ok) {
      vtgui::PortPanelView* com1 = view.Panels().front();
      com1->RunCommand(ID_PANEL_LOG_WINDOW);
      if (com1->LogView() == nullptr) {
        ok = Fail("the log window did not open");
      } else {
        ok = Save(com1->LogView(), folder + "/desktop-log-window.png");
      }
    }
    view.close();
  }
  programmerApp.ExitInstance();
  for (const platform::RecordedBox& box : boxes.Boxes()) {
    std::fprintf(stderr, "box: %s %s\n", box.caption.c_str(), box.text.c_str());
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vantorel-screenshots <output folder>\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(vtgui::ApplicationIcon());
  QApplication::setFont(vtgui::DialogFont());
  // Made absolute now: the station works in a folder of its own.
  const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "vantorel-screenshots: cannot make %s\n", argv[1]);
    return 1;
  }
  return MakeScreenshots(folder) ? 0 : 1;
}
