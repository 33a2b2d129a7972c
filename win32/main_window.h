// The main window (template 102) over the CProgrammerDlg model: caption, the
// File and Help menus, the port panels where the model places them, the USB
// button with its prompt line and the one-second USB poll, the About box and
// the orderly close.
//
// The window calls the model's initialisation, commands and poll tick on the
// window thread and then applies the rectangles and states the model holds.
// The model sizes the windows in pixels of the dialog font in use: the
// templates' dialog units are turned into pixels by the system itself
// (MapDialogRect), so the layout follows the font and the screen's DPI.
// Closing the window (close box, File > Exit) releases every open message
// box, detaches the panel windows and runs the model's DestroyWindow, which
// saves the settings and ends every port connection.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "app/menu_item.h"
#include "handles.h"

class CCommDialog;
class CFileOpenPropSheet;
class CProgrammerDlg;

namespace vtwin {

class PortPanel;
class SetupSheet;
class Win32MessageSink;

class MainWindow {
 public:
  // Events for whoever stands around the station (the demo's bench).
  struct Listener {
    std::function<void(CCommDialog*)> panelCreated;  // a window was made for a new panel
    std::function<void()> usbSearchStarted;          // the USB button was pressed
    std::function<void()> aboutToShutDown;           // the panels still exist
  };

  // sink (may be null) is the program's box sink, shut down on close. The
  // model's m_pPortList must be set.
  MainWindow(CProgrammerDlg& model, Win32MessageSink* sink);
  // Closes in order if that has not happened yet.
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  void SetListener(Listener listener) { listener_ = std::move(listener); }
  // Prepares every Setup sheet before it runs (tests: a file chooser, a
  // hook that drives the open sheet).
  void SetSheetPreparer(std::function<void(SetupSheet&)> prepare) { prepareSheet_ = std::move(prepare); }

  // Creates the window: the model's initialisation (settings, start-up
  // panels, USB row, File menu), then the windows of all of it. Shown after.
  bool Create();
  HWND Handle() const { return hwnd_; }

  // Menu commands (File > Setup..., File > Exit, Help > About Vantorel).
  void RunMenuCommand(int commandId);
  // The Setup sheet, modal; true when it ended with OK.
  bool RunSetupSheet(CFileOpenPropSheet& sheet);
  // The About box, modal.
  void ShowAbout();

  bool IsShutDown() const { return shutDown_; }
  // The close itself: open boxes released, panel windows detached, the
  // model's DestroyWindow, the window destroyed and the message loop told to
  // end. Runs once.
  void ShutDown();

  // The panel windows in the order the model created the panels.
  const std::vector<std::unique_ptr<PortPanel>>& Panels() const { return panels_; }
  PortPanel* PanelOf(const CCommDialog* panel) const;
  // The results database's state as the status bar shows it; null when no
  // database is configured (then there is no status bar).
  HWND ResultsDbStatusBar() const { return statusBar_; }
  // The menus of the menu bar as they stand.
  std::vector<MenuItem> FileMenu() const;
  std::vector<MenuItem> HelpMenu() const;

 private:
  static intptr_t __stdcall DialogProc(HWND hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);
  bool OnMessage(unsigned message, uintptr_t wParam, intptr_t lParam);
  void Initialise();
  void BuildMenuBar();
  void OnUsbButton();
  void OnUsbTick();
  void OnClose();
  // Makes a window for every panel of the model that has none yet.
  void SyncPanels();
  // Window size, panel places and the USB row, as the model holds them.
  void ApplyLayout();
  void ApplyUsbRow();
  // Measures the frame the system put around the client area and lets the
  // model fit the window to it.
  void MeasureFrame();
  // Shows the results database's state in the status bar (each second).
  void ShowResultsDbStatus();

  CProgrammerDlg& model_;
  Win32MessageSink* sink_;
  HWND hwnd_ = nullptr;
  Listener listener_;
  std::function<void(SetupSheet&)> prepareSheet_;
  std::vector<std::unique_ptr<PortPanel>> panels_;
  bool usbTimerRunning_ = false;
  // The status bar under the panels, made only when a results database is
  // configured; its height counts as frame, so the panels keep their room.
  HWND statusBar_ = nullptr;
  int statusBarHeight_ = 0;
  int modalDepth_ = 0;             // a modal window (sheet, About box) is open
  bool closeAfterBoxes_ = false;   // a close waits for the window thread's boxes
  bool closing_ = false;           // ShutDown has begun
  bool shutDown_ = false;          // ShutDown has ended
};

}  // namespace vtwin
