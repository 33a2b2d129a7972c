// The log view of a port (template 146): the tail of the port's traffic log
// as read-only text, with an OK button. The CLogWin model reads the file once
// when it is made; this window shows its caption and text. The port panel's
// window opens it and, when the model is closed from the panel's menu, drops
// it. Closing the window (OK, close box, Escape) closes the model too, which
// then forgets itself in its panel. Window thread only.
#pragma once

#include <functional>

#include "handles.h"

class CLogWin;

namespace vtwin {

class LogWindow {
 public:
  // Opens the modeless window owned by owner; closed tells the opener once
  // the operator has closed it (the model is gone by then).
  LogWindow(CLogWin* model, HWND owner, std::function<void()> closed);
  // Destroys the window without touching the model.
  ~LogWindow();
  LogWindow(const LogWindow&) = delete;
  LogWindow& operator=(const LogWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  CLogWin* Model() const { return model_; }

 private:
  static intptr_t __stdcall DialogProc(HWND hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);
  void OnClose();

  CLogWin* model_;
  std::function<void()> closed_;
  HWND hwnd_ = nullptr;
};

}  // namespace vtwin
