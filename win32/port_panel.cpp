#include "port_panel.h"

#include <algorithm>

#include "app/log_win.h"
#include "app/panel_menu.h"
#include "app/comm_dialog.h"
#include "log_window.h"
#include "relay.h"
#include "resource_ids.h"
#include "text.h"
#include "windows_api.h"

namespace vtwin {

namespace {

constexpr UINT kProgressChanged = WM_APP + 10;
constexpr UINT kButtonChanged = WM_APP + 11;
constexpr UINT_PTR kStatusTimerId = 1;
constexpr UINT kStatusPeriodMs = 1000;

}  // namespace

PortPanel::PortPanel(CCommDialog& model, SetupRunner runSetup, HWND parent)
    : model_(&model), runSetup_(std::move(runSetup)) {
  ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(VT_IDD_PANEL), parent,
                       reinterpret_cast<DLGPROC>(&PortPanel::DialogProc), reinterpret_cast<LPARAM>(this));
}

PortPanel::~PortPanel() {
  Detach();
  if (hwnd_ != nullptr) {
    ::SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    ::DestroyWindow(hwnd_);
  }
}

void PortPanel::Detach() {
  if (timerRunning_) ::KillTimer(hwnd_, kStatusTimerId);
  timerRunning_ = false;
  if (progressRelay_) progressRelay_->Detach();
  if (buttonRelay_) buttonRelay_->Detach();
  if (model_ != nullptr) {
    model_->m_progress.SetObserver({});
    model_->SetButtonObserver({});
    model_ = nullptr;
  }
  // The model's log view goes with the model; its window goes now.
  logView_.reset();
}

intptr_t __stdcall PortPanel::DialogProc(HWND hwnd, unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    auto* self = reinterpret_cast<PortPanel*>(lParam);
    self->hwnd_ = hwnd;
    self->OnMessage(message, wParam, lParam);
    return TRUE;
  }
  auto* self = reinterpret_cast<PortPanel*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  return self != nullptr && self->OnMessage(message, wParam, lParam) ? TRUE : FALSE;
}

bool PortPanel::OnMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      ::SetDlgItemTextW(hwnd_, VT_IDC_PORT_BUTTON, Widen(model_->m_strButtonCaption.Get()).c_str());
      progressRelay_ = std::make_unique<Relay>(hwnd_, kProgressChanged);
      buttonRelay_ = std::make_unique<Relay>(hwnd_, kButtonChanged);
      model_->m_progress.SetObserver([post = progressRelay_->Poster()](int) { post(); });
      model_->SetButtonObserver([post = buttonRelay_->Poster()](bool) { post(); });
      RefreshProgress();
      RefreshButton();
      // The controls show the members once as the panel opens; from then on
      // the status line follows the model at each tick of the panel's timer.
      // A panel whose opening failed started no timer, and its status line
      // stays empty.
      if (model_->m_nTimerId != 0) {
        RefreshStatus();
        timerRunning_ = ::SetTimer(hwnd_, kStatusTimerId, kStatusPeriodMs, nullptr) != 0;
      }
      return true;
    }
    case WM_TIMER:
      if (wParam == kStatusTimerId) RefreshStatus();
      return true;
    case kProgressChanged:
      if (progressRelay_ && progressRelay_->Take()) RefreshProgress();
      return true;
    case kButtonChanged:
      if (buttonRelay_ && buttonRelay_->Take()) RefreshButton();
      return true;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == VT_IDC_PORT_BUTTON && HIWORD(wParam) == BN_CLICKED) {
        OnPortButton();
      } else if (id == ID_PANEL_SETUP || id == ID_PANEL_LOG_WINDOW || id == ID_PANEL_RESET) {
        RunCommand(id);
      }
      return true;
    }
    case WM_CONTEXTMENU: {
      int x = static_cast<short>(LOWORD(lParam));
      int y = static_cast<short>(HIWORD(lParam));
      if (x == -1 && y == -1) {
        // The menu key: the menu opens at the panel's corner.
        RECT rc;
        ::GetWindowRect(hwnd_, &rc);
        x = rc.left;
        y = rc.top;
      }
      ShowContextMenu(x, y);
      return true;
    }
    default:
      return false;
  }
}

void PortPanel::OnPortButton() {
  if (model_ == nullptr || inCommand_) return;
  inCommand_ = true;
  model_->Start();
  inCommand_ = false;
  RefreshButton();
}

std::vector<MenuItem> PortPanel::ContextMenu() const {
  if (model_ == nullptr) return {};
  return GetPanelMenu(*model_);
}

void PortPanel::ShowContextMenu(int x, int y) {
  if (model_ == nullptr || inCommand_) return;
  // The item states are read from the model as the menu opens.
  const HMENU menu = ::CreatePopupMenu();
  for (const MenuItem& item : GetPanelMenu(*model_)) {
    if (item.separator) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      ::AppendMenuW(menu, MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED), item.id,
                    Widen(item.text).c_str());
    }
  }
  const int chosen = static_cast<int>(::TrackPopupMenu(
      menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, hwnd_, nullptr));
  ::DestroyMenu(menu);
  if (chosen != 0) RunCommand(chosen);
}

void PortPanel::RunCommand(int commandId) {
  if (model_ == nullptr || inCommand_) return;
  inCommand_ = true;
  OnPanelCommand(*model_, commandId, runSetup_);
  inCommand_ = false;
  // The command may have run a nested loop (a box, the sheet) during which
  // the panel was detached.
  if (model_ == nullptr) return;
  if (commandId == ID_PANEL_LOG_WINDOW) SyncLogView();
  if (commandId == ID_PANEL_RESET) {
    RefreshProgress();
    RefreshStatus();
  }
}

HWND PortPanel::LogWindowHandle() const { return logView_ ? logView_->Handle() : nullptr; }

void PortPanel::SyncLogView() {
  CLogWin* open = model_->m_pLogWin.load();
  if (logView_ && logView_->Model() != open) logView_.reset();
  if (open != nullptr && !logView_) {
    logView_ = std::make_unique<LogWindow>(open, hwnd_, [this] {
      // Closed by the operator: the model is gone already. A modeless
      // dialog may destroy itself while it handles its own command.
      logView_.reset();
    });
  }
}

void PortPanel::RefreshStatus() {
  if (model_ == nullptr) return;
  const std::wstring text = Widen(model_->m_strStatus.Get());
  wchar_t shown[512] = {};
  ::GetDlgItemTextW(hwnd_, VT_IDC_STATUS, shown, 512);
  if (text != shown) ::SetDlgItemTextW(hwnd_, VT_IDC_STATUS, text.c_str());
}

void PortPanel::RefreshProgress() {
  if (model_ == nullptr) return;
  const int low = model_->m_progress.GetLow();
  const int high = model_->m_progress.GetHigh();
  const HWND bar = ::GetDlgItem(hwnd_, VT_IDC_PROGRESS);
  ::SendMessageW(bar, PBM_SETRANGE32, low, high);
  ::SendMessageW(bar, PBM_SETPOS,
                 std::clamp(model_->m_progress.GetPos(), std::min(low, high), std::max(low, high)), 0);
}

void PortPanel::RefreshButton() {
  if (model_ == nullptr) return;
  ::EnableWindow(::GetDlgItem(hwnd_, VT_IDC_PORT_BUTTON), model_->m_bButtonEnabled.load() ? TRUE : FALSE);
}

}  // namespace vtwin
