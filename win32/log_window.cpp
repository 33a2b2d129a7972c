#include "log_window.h"

#include "app/log_win.h"
#include "resource_ids.h"
#include "text.h"
#include "windows_api.h"

namespace vtwin {

LogWindow::LogWindow(CLogWin* model, HWND owner, std::function<void()> closed)
    : model_(model), closed_(std::move(closed)) {
  hwnd_ = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(VT_IDD_LOG), owner,
                               reinterpret_cast<DLGPROC>(&LogWindow::DialogProc),
                               reinterpret_cast<LPARAM>(this));
  if (hwnd_ != nullptr) ::ShowWindow(hwnd_, SW_SHOW);
}

LogWindow::~LogWindow() {
  if (hwnd_ != nullptr) {
    ::SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    ::DestroyWindow(hwnd_);
  }
}

void LogWindow::OnClose() {
  // The model forgets itself in its panel and deletes itself, so the next
  // "Log window" opens a fresh view.
  if (CLogWin* model = model_) {
    model_ = nullptr;
    model->OnOK();
  }
  // The opener deletes this object.
  if (closed_) closed_();
}

intptr_t __stdcall LogWindow::DialogProc(HWND hwnd, unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<LogWindow*>(lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
    ::SetWindowTextW(hwnd, Widen(self->model_->m_strCaption).c_str());
    const HWND edit = ::GetDlgItem(hwnd, VT_IDC_LOG_TEXT);
    // The edit box's own limit would cut the tail the view shows.
    ::SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    ::SetWindowTextW(edit, LogBytesToText(self->model_->m_strText).c_str());
    // OK takes the focus, so the text is not shown selected.
    ::SetFocus(::GetDlgItem(hwnd, IDOK));
    return FALSE;
  }
  auto* self = reinterpret_cast<LogWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    self->OnClose();
    return TRUE;
  }
  if (message == WM_CLOSE) {
    self->OnClose();
    return TRUE;
  }
  return FALSE;
}

}  // namespace vtwin
