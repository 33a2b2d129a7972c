// The main window (template 102) over the CProgrammerDlg model: caption, the
// File and Help menus, the port panels where the model places them, the USB
// button with its prompt line and the one-second USB poll, the About box and
// the orderly close.
//
// The view calls the model's initialisation, commands and poll tick on the
// window thread and then applies the rectangles and states the model holds.
// Closing the window (close box, File > Exit) releases every open message
// box, detaches the panel views and runs the model's DestroyWindow, which
// saves the settings and ends every port connection.
#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QTimer>

#include <vector>

#include "app/menu_item.h"

class CCommDialog;
class CFileOpenPropSheet;
class CProgrammerDlg;
class QLabel;
class QMenu;
class QPushButton;

namespace vtgui {

class PortPanelView;
class QtMessageSink;

class MainWindowView : public QMainWindow {
  Q_OBJECT

 public:
  // sink (may be null) is the program's box sink, shut down on close. The
  // model's m_pPortList must be set.
  MainWindowView(CProgrammerDlg& model, QtMessageSink* sink);
  ~MainWindowView() override;

  // The main window's initialisation: the model's own (settings, start-up
  // panels, USB row, File menu), then the views of all of it.
  void Initialise();

  // Menu commands (File > Setup..., File > Exit, Help > About Vantorel).
  void RunMenuCommand(int commandId);
  // The Setup sheet, modal; true when it ended with OK.
  bool RunSetupSheet(CFileOpenPropSheet& sheet);
  void ShowAbout();

  bool IsShutDown() const { return shutDown_; }
  // The close itself: open boxes released, panel views detached, the
  // model's DestroyWindow. Runs once.
  void ShutDown();

  QMenu* FileMenu() const { return fileMenu_; }
  QMenu* HelpMenu() const { return helpMenu_; }
  QPushButton* UsbButton() const { return usbButton_; }
  QLabel* UsbPrompt() const { return usbPrompt_; }
  QTimer* UsbTimer() { return &usbTimer_; }
  // The panel views in the order the model created the panels.
  const std::vector<PortPanelView*>& Panels() const { return panels_; }
  PortPanelView* PanelOf(const CCommDialog* panel) const;

 signals:
  // A panel view was made for a new panel of the model.
  void panelCreated(CCommDialog* panel);
  // The USB button was pressed: the search for USB scanners runs.
  void usbSearchStarted();
  // The window is about to end the ports; the panels still exist.
  void aboutToShutDown();
  // The model's DestroyWindow has run: settings saved, panels gone.
  void shutDownDone();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FillMenu(QMenu* menu, const std::vector<MenuItem>& items);
  void OnUsbButton();
  void OnUsbTick();
  // Makes a view for every panel of the model that has none yet.
  void SyncPanels();
  // Window size, panel places and the USB row, as the model holds them.
  void ApplyLayout();
  void ApplyUsbRow();
  // Learns the window manager's frame once the window is on screen.
  void MeasureFrame();

  CProgrammerDlg& model_;
  QtMessageSink* sink_;
  QWidget* client_ = nullptr;
  QMenu* fileMenu_ = nullptr;
  QMenu* helpMenu_ = nullptr;
  QPushButton* usbButton_ = nullptr;
  QLabel* usbPrompt_ = nullptr;
  QTimer usbTimer_;
  // The results database's state in the status bar, once a second; only
  // when a database is configured.
  QLabel* resultsDbStatus_ = nullptr;
  QTimer resultsDbTimer_;
  int statusBarHeight_ = 0;
  std::vector<PortPanelView*> panels_;
  int menuBarHeight_ = 0;
  QMargins decoration_;  // the window manager's frame around the window
  bool closeAfterBoxes_ = false;  // a close waits for the window thread's boxes
  bool closing_ = false;   // ShutDown has begun
  bool shutDown_ = false;  // ShutDown has ended
};

}  // namespace vtgui
