#include "main_window.h"

#include "about_box.h"
#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "message_sink.h"
#include "port_panel.h"
#include "resource_ids.h"
#include "setup_sheet.h"
#include "text.h"
#include "windows_api.h"

namespace vtwin {

namespace {

// The timer that brings the results database's state up to date.
constexpr int kResultsDbTimerId = 101;

// Dialog units of a template rectangle in pixels of the window's dialog font,
// as the system maps them.
Size MapUnits(HWND dialog, Size units) {
  RECT rc{0, 0, units.cx, units.cy};
  ::MapDialogRect(dialog, &rc);
  return {rc.right - rc.left, rc.bottom - rc.top};
}

void PlaceWindow(HWND window, const Rect& rect) {
  ::SetWindowPos(window, nullptr, rect.x, rect.y, rect.width, rect.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::vector<MenuItem> ReadMenu(HMENU menu) {
  std::vector<MenuItem> items;
  const int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t text[128] = {};
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 127;
    ::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
    MenuItem item;
    item.separator = (info.fType & MFT_SEPARATOR) != 0;
    item.id = item.separator ? 0 : static_cast<int>(info.wID);
    item.text = item.separator ? "" : Narrow(text);
    item.enabled = (info.fState & MFS_DISABLED) == 0;
    items.push_back(item);
  }
  return items;
}

void AppendItems(HMENU menu, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    if (item.separator) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      ::AppendMenuW(menu, MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED), static_cast<UINT_PTR>(item.id),
                    Widen(item.text).c_str());
    }
  }
}

}  // namespace

MainWindow::MainWindow(CProgrammerDlg& model, Win32MessageSink* sink) : model_(model), sink_(sink) {
  if (sink_ != nullptr) {
    sink_->SetWindowBoxesClosed([this] {
      if (!closeAfterBoxes_ || hwnd_ == nullptr) return;
      closeAfterBoxes_ = false;
      // Posted: the commands the boxes held go on first.
      ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    });
  }
}

MainWindow::~MainWindow() {
  if (sink_ != nullptr) sink_->SetWindowBoxesClosed({});
  ShutDown();
}

bool MainWindow::Create() {
  hwnd_ = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(VT_IDD_MAIN), nullptr,
                               reinterpret_cast<DLGPROC>(&MainWindow::DialogProc), reinterpret_cast<LPARAM>(this));
  return hwnd_ != nullptr;
}

intptr_t __stdcall MainWindow::DialogProc(HWND hwnd, unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    auto* self = reinterpret_cast<MainWindow*>(lParam);
    self->hwnd_ = hwnd;
    self->Initialise();
    return TRUE;
  }
  auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  return self != nullptr && self->OnMessage(message, wParam, lParam) ? TRUE : FALSE;
}

void MainWindow::Initialise() {
  ::SetWindowTextW(hwnd_, Widen(kProductTitle).c_str());
  // The About item of the system menu.
  if (const HMENU system = ::GetSystemMenu(hwnd_, FALSE); system != nullptr && *kAboutMenuText != '\0') {
    ::AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(system, MF_STRING, IDM_ABOUTBOX, Widen(kAboutMenuText).c_str());
  }
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const auto big = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(VT_IDI_APP), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
  const auto small = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(VT_IDI_APP), IMAGE_ICON,
                                                     ::GetSystemMetrics(SM_CXSMICON),
                                                     ::GetSystemMetrics(SM_CYSMICON), 0));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

  // The panels and the USB button as large as the templates make them in
  // the dialog font in use; a panel has a thin border around its template.
  Size panel = MapUnits(hwnd_, kPanelTemplateUnits);
  RECT outer{0, 0, panel.cx, panel.cy};
  ::AdjustWindowRectEx(&outer, WS_CHILD | WS_BORDER, FALSE, 0);
  model_.m_szPanel = {outer.right - outer.left, outer.bottom - outer.top};
  model_.m_szUsbButton = MapUnits(hwnd_, kUsbButtonUnits);
  // The frame around the client area, the menu bar included; measured again
  // once the window stands.
  RECT frame{0, 0, 0, 0};
  ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(hwnd_, GWL_STYLE)), TRUE,
                       static_cast<DWORD>(::GetWindowLongW(hwnd_, GWL_EXSTYLE)));
  model_.m_frame = FrameInsets{-frame.left, -frame.top, frame.right, frame.bottom};

  model_.OnInitDialog();

  // The plant's results database, when one is configured: its state in a
  // status bar below the panels, brought up to date every second.
  if (!model_.GetResultsDbStatus().empty()) {
    statusBar_ = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwnd_,
                                   nullptr, instance, nullptr);
    if (statusBar_ != nullptr) {
      RECT bar{};
      ::GetWindowRect(statusBar_, &bar);
      statusBarHeight_ = bar.bottom - bar.top;
      // The bar counts as frame: the window grows by it and the panels and
      // the USB row keep their room above it.
      FrameInsets frame = model_.m_frame;
      frame.bottom += statusBarHeight_;
      model_.SetFrame(frame);
      ShowResultsDbStatus();
      ::SetTimer(hwnd_, static_cast<UINT_PTR>(kResultsDbTimerId), 1000, nullptr);
    }
  }

  BuildMenuBar();
  SyncPanels();
  ApplyLayout();
  ::SetWindowPos(hwnd_, nullptr, model_.m_rcWindow.x, model_.m_rcWindow.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  MeasureFrame();
}

void MainWindow::BuildMenuBar() {
  const HMENU bar = ::CreateMenu();
  const HMENU file = ::CreatePopupMenu();
  const HMENU help = ::CreatePopupMenu();
  AppendItems(file, model_.GetFileMenu());
  AppendItems(help, model_.GetHelpMenu());
  ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
  ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
  const HMENU previous = ::GetMenu(hwnd_);
  ::SetMenu(hwnd_, bar);
  if (previous != nullptr) ::DestroyMenu(previous);
}

std::vector<MenuItem> MainWindow::FileMenu() const {
  return hwnd_ != nullptr ? ReadMenu(::GetSubMenu(::GetMenu(hwnd_), 0)) : std::vector<MenuItem>{};
}

std::vector<MenuItem> MainWindow::HelpMenu() const {
  return hwnd_ != nullptr ? ReadMenu(::GetSubMenu(::GetMenu(hwnd_), 1)) : std::vector<MenuItem>{};
}

bool MainWindow::OnMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == VT_IDC_USB_BUTTON) {
        if (HIWORD(wParam) == BN_CLICKED) OnUsbButton();
      } else if (lParam == 0 && (id == ID_FILE_SETUP || id == ID_FILE_EXIT || id == ID_HELP_ABOUT)) {
        RunMenuCommand(id);
      }
      // The cancel key does not close the station.
      return true;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        ShowAbout();
        return true;
      }
      return false;
    case WM_TIMER:
      if (wParam == static_cast<uintptr_t>(kUsbTimerId)) OnUsbTick();
      if (wParam == static_cast<uintptr_t>(kResultsDbTimerId)) ShowResultsDbStatus();
      return true;
    case WM_CLOSE:
      OnClose();
      return true;
    case WM_DPICHANGED: {
      // The system scales the templates to the new DPI; the window takes the
      // place it suggests.
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return true;
    }
    default:
      return false;
  }
}

void MainWindow::RunMenuCommand(int commandId) {
  if (closing_) return;
  switch (commandId) {
    case ID_FILE_SETUP:
      model_.RunSetup([this](CFileOpenPropSheet& sheet) { return RunSetupSheet(sheet); });
      break;
    case ID_FILE_EXIT:
      ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
      break;
    case ID_HELP_ABOUT:
      ShowAbout();
      break;
    default:
      break;
  }
}

bool MainWindow::RunSetupSheet(CFileOpenPropSheet& sheet) {
  SetupSheet window(sheet, hwnd_);
  if (prepareSheet_) prepareSheet_(window);
  ++modalDepth_;
  const bool accepted = window.Run();
  --modalDepth_;
  return accepted;
}

void MainWindow::ShowAbout() {
  ++modalDepth_;
  RunAboutBox(hwnd_);
  --modalDepth_;
}

PortPanel* MainWindow::PanelOf(const CCommDialog* panel) const {
  for (const auto& window : panels_) {
    if (window->Model() == panel) return window.get();
  }
  return nullptr;
}

void MainWindow::SyncPanels() {
  for (const CProgrammerDlg::PanelSlot& slot : model_.GetPanels()) {
    if (!slot.panel || PanelOf(slot.panel.get()) != nullptr) continue;
    auto window = std::make_unique<PortPanel>(
        *slot.panel, [this](CFileOpenPropSheet& sheet) { return RunSetupSheet(sheet); }, hwnd_);
    PlaceWindow(window->Handle(), slot.rect);
    ::ShowWindow(window->Handle(), SW_SHOW);
    panels_.push_back(std::move(window));
    if (listener_.panelCreated) listener_.panelCreated(slot.panel.get());
  }
}

void MainWindow::ApplyLayout() {
  const Rect& outer = model_.m_rcWindow;
  ::SetWindowPos(hwnd_, nullptr, 0, 0, outer.width, outer.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (const CProgrammerDlg::PanelSlot& slot : model_.GetPanels()) {
    if (PortPanel* window = PanelOf(slot.panel.get())) PlaceWindow(window->Handle(), slot.rect);
  }
  ApplyUsbRow();
  if (statusBar_ != nullptr) ::SendMessageW(statusBar_, WM_SIZE, 0, 0);
}

void MainWindow::ApplyUsbRow() {
  const HWND button = ::GetDlgItem(hwnd_, VT_IDC_USB_BUTTON);
  const HWND prompt = ::GetDlgItem(hwnd_, VT_IDC_USB_PROMPT);
  PlaceWindow(button, model_.m_rcUsbButton);
  PlaceWindow(prompt, model_.m_rcUsbPrompt);
  ::SetWindowTextW(prompt, Widen(model_.m_strUsbPrompt).c_str());
  ::EnableWindow(button, model_.m_bUsbButtonEnabled ? TRUE : FALSE);
  const int show = model_.m_bUsbRowVisible ? SW_SHOW : SW_HIDE;
  ::ShowWindow(button, show);
  ::ShowWindow(prompt, show);
  if (model_.m_nUsbTimerId >= 0 && !usbTimerRunning_) {
    usbTimerRunning_ = ::SetTimer(hwnd_, static_cast<UINT_PTR>(kUsbTimerId), kUsbTimerPeriodMs, nullptr) != 0;
  }
}

void MainWindow::MeasureFrame() {
  RECT window{}, client{};
  ::GetWindowRect(hwnd_, &window);
  ::GetClientRect(hwnd_, &client);
  POINT origin{0, 0};
  ::ClientToScreen(hwnd_, &origin);
  const FrameInsets frame{origin.x - window.left, origin.y - window.top,
                          window.right - (origin.x + client.right),
                          window.bottom - (origin.y + client.bottom) + statusBarHeight_};
  const FrameInsets& known = model_.m_frame;
  if (frame.left == known.left && frame.top == known.top && frame.right == known.right &&
      frame.bottom == known.bottom) {
    return;
  }
  // The window grows by the frame, so that the client area still holds the
  // panels and the USB row.
  model_.SetFrame(frame);
  ApplyLayout();
}

void MainWindow::ShowResultsDbStatus() {
  if (statusBar_ == nullptr) return;
  // The status bar keeps to the bottom edge as the window is laid out.
  ::SendMessageW(statusBar_, WM_SIZE, 0, 0);
  ::SendMessageW(statusBar_, SB_SETTEXTW, 0,
                 reinterpret_cast<LPARAM>(Widen(model_.GetResultsDbStatus()).c_str()));
}

void MainWindow::OnUsbButton() {
  if (closing_) return;
  const bool wasPending = model_.m_bUsbSearchPending;
  model_.OnUsbButton();
  ApplyUsbRow();
  if (!wasPending && model_.m_bUsbSearchPending && listener_.usbSearchStarted) listener_.usbSearchStarted();
}

void MainWindow::OnUsbTick() {
  if (closing_) return;
  // The tick may show a box whose loop runs further ticks; the model skips
  // those, and a close during the box waits for the tick to end.
  const int added = model_.OnTimer();
  if (closing_) return;
  if (added > 0) SyncPanels();
  ApplyLayout();
  MeasureFrame();
}

void MainWindow::OnClose() {
  if (closing_) return;
  // A modal window (the sheet, the About box) belongs to a command that is
  // still running: the window closes after it.
  if (modalDepth_ > 0) return;
  // A box of the window thread holds a command (a panel's Reset, a USB poll
  // tick) in the box's own loop, beneath this close. The boxes are answered,
  // and the window closes once those commands have gone on, so no command
  // resumes on a panel the close has destroyed.
  if (sink_ != nullptr && !sink_->WindowBoxes().empty()) {
    closeAfterBoxes_ = true;
    sink_->CloseWindowBoxes();
    return;
  }
  ShutDown();
}

void MainWindow::ShutDown() {
  if (closing_) return;
  closing_ = true;
  if (listener_.aboutToShutDown) listener_.aboutToShutDown();
  if (usbTimerRunning_) ::KillTimer(hwnd_, static_cast<UINT_PTR>(kUsbTimerId));
  if (statusBar_ != nullptr) ::KillTimer(hwnd_, static_cast<UINT_PTR>(kResultsDbTimerId));
  usbTimerRunning_ = false;
  for (const auto& panel : panels_) panel->Detach();
  // Port threads waiting for a box are released before the teardown waits
  // for them.
  if (sink_ != nullptr) sink_->Shutdown();
  model_.DestroyWindow();
  panels_.clear();
  if (hwnd_ != nullptr) {
    ::SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    ::DestroyWindow(hwnd_);
    hwnd_ = nullptr;
    ::PostQuitMessage(0);
  }
  shutDown_ = true;
}

}  // namespace vtwin
