// The window side of one port panel (template 129): the port button, the
// progress bar and the status line over a CCommDialog model, and the panel's
// context menu (Setup..., Log window, Reset).
//
// The window is humble: the port's threads only write the model. The status
// line is copied from the model once a second by the panel's timer; the
// progress bar and the port button follow the model through private messages
// that the model's observers post from the port threads (relay.h). The
// button and the menu commands call the model on the window thread.
//
// Made by the main window for every panel its model creates; detached before
// the main window's model destroys the panels.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "app/menu_item.h"
#include "handles.h"

class CCommDialog;
class CFileOpenPropSheet;

namespace vtwin {

class LogWindow;
class Relay;

class PortPanel {
 public:
  // Runs the Setup sheet modally; true when it ended with OK.
  using SetupRunner = std::function<bool(CFileOpenPropSheet&)>;

  PortPanel(CCommDialog& model, SetupRunner runSetup, HWND parent);
  ~PortPanel();
  PortPanel(const PortPanel&) = delete;
  PortPanel& operator=(const PortPanel&) = delete;

  HWND Handle() const { return hwnd_; }
  // The model, or null once detached.
  CCommDialog* Model() const { return model_; }

  // Stops the timer, drops the model's observers and closes the log view.
  // After this the window never touches the model again, which may then go.
  void Detach();

  // The context menu's items as they would open now.
  std::vector<MenuItem> ContextMenu() const;
  // A command of the context menu.
  void RunCommand(int commandId);
  // The open log view's window, or null.
  HWND LogWindowHandle() const;

 private:
  static intptr_t __stdcall DialogProc(HWND hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);
  bool OnMessage(unsigned message, uintptr_t wParam, intptr_t lParam);
  void OnPortButton();
  void ShowContextMenu(int x, int y);
  void RefreshStatus();
  void RefreshProgress();
  void RefreshButton();
  // Opens or drops the log view so that it matches the model's m_pLogWin.
  void SyncLogView();

  CCommDialog* model_;
  SetupRunner runSetup_;
  HWND hwnd_ = nullptr;
  bool timerRunning_ = false;
  // A command of this panel is running: it may wait in a box while the
  // window takes input, and the panel takes no second command meanwhile.
  bool inCommand_ = false;
  std::unique_ptr<Relay> progressRelay_;
  std::unique_ptr<Relay> buttonRelay_;
  std::unique_ptr<LogWindow> logView_;
};

}  // namespace vtwin
