#include "setup_sheet.h"

#include <algorithm>
#include <vector>

#include "resource_ids.h"
#include "text.h"
#include "windows_api.h"

namespace vtwin {

namespace {

// The sheet being run on this thread: the sheet's callback and the timer
// that reports it open carry no pointer of their own.
thread_local SetupSheet* t_running = nullptr;

constexpr int kApplyId = 0x3021;  // the sheet's Apply button
constexpr int kRowLabels[] = {VT_IDC_ROW_LABEL0, VT_IDC_ROW_LABEL1, VT_IDC_ROW_LABEL2, VT_IDC_ROW_LABEL3,
                              VT_IDC_ROW_LABEL4};

std::wstring ControlText(HWND control) {
  const int n = ::GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  ::GetWindowTextW(control, text.data(), n + 1);
  text.resize(static_cast<size_t>(n));
  return text;
}

}  // namespace

SetupSheet::SetupSheet(CFileOpenPropSheet& sheet, HWND parent)
    : sheet_(sheet), parent_(parent), chooser_(&SetupSheet::ChooseFileWithDialog) {
  for (int i = 0; i < CFileOpenPropSheet::kPageCount; ++i) {
    pages_[i].owner = this;
    pages_[i].index = i;
  }
}

bool SetupSheet::Run() {
  PROPSHEETPAGEW pages[CFileOpenPropSheet::kPageCount] = {};
  for (int i = 0; i < CFileOpenPropSheet::kPageCount; ++i) {
    pages[i].dwSize = sizeof(PROPSHEETPAGEW);
    pages[i].hInstance = ::GetModuleHandleW(nullptr);
    pages[i].pszTemplate = MAKEINTRESOURCEW(sheet_.GetPage(i).TemplateId());
    pages[i].pfnDlgProc = reinterpret_cast<DLGPROC>(&SetupSheet::PageProc);
    pages[i].lParam = reinterpret_cast<LPARAM>(&pages_[i]);
  }
  const std::wstring caption = Widen(CFileOpenPropSheet::kCaption);
  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof(PROPSHEETHEADERW);
  // No Apply button and no Help button.
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_USECALLBACK | PSH_NOCONTEXTHELP;
  header.hwndParent = parent_;
  header.hInstance = ::GetModuleHandleW(nullptr);
  header.pszCaption = caption.c_str();
  header.nPages = CFileOpenPropSheet::kPageCount;
  header.nStartPage = static_cast<UINT>(sheet_.GetActiveIndex());
  header.ppsp = pages;
  header.pfnCallback = reinterpret_cast<PFNPROPSHEETCALLBACK>(&SetupSheet::SheetCallback);

  SetupSheet* const outer = t_running;
  t_running = this;
  accepted_ = false;
  UINT_PTR timer = 0;
  if (opened_) timer = ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, reinterpret_cast<TIMERPROC>(&SetupSheet::OpenedTimer));
  ::PropertySheetW(&header);
  if (timer != 0) ::KillTimer(nullptr, timer);
  t_running = outer;
  sheet_hwnd_ = nullptr;
  for (PageWindow& page : pages_) page.hwnd = nullptr;
  return accepted_;
}

void __stdcall SetupSheet::OpenedTimer(HWND, unsigned, uintptr_t id, unsigned long) {
  SetupSheet* self = t_running;
  // Waits for the sheet and its first page to be on screen.
  if (self == nullptr || self->sheet_hwnd_ == nullptr || !::IsWindowVisible(self->sheet_hwnd_) ||
      self->pages_[self->sheet_.GetActiveIndex()].hwnd == nullptr) {
    return;
  }
  ::KillTimer(nullptr, id);
  std::function<void(SetupSheet&)> opened = std::move(self->opened_);
  self->opened_ = nullptr;
  if (opened) opened(*self);
}

int __stdcall SetupSheet::SheetCallback(HWND hwnd, unsigned message, intptr_t) {
  if (message == PSCB_INITIALIZED && t_running != nullptr) {
    t_running->sheet_hwnd_ = hwnd;
    t_running->ArrangeButtons();
  }
  return 0;
}

void SetupSheet::ArrangeButtons() {
  // The row of button places at the sheet's bottom right, as the system laid
  // them out: the rightmost place is that of the rightmost button shown, the
  // pitch that between OK and Cancel.
  RECT ok{}, cancel{};
  const HWND okButton = ::GetDlgItem(sheet_hwnd_, kSheetOkId);
  const HWND cancelButton = ::GetDlgItem(sheet_hwnd_, kSheetCancelId);
  if (okButton == nullptr || cancelButton == nullptr) return;
  ::GetWindowRect(okButton, &ok);
  ::GetWindowRect(cancelButton, &cancel);
  LONG right = std::max(ok.right, cancel.right);
  for (int id : {kApplyId, kSheetHelpId}) {
    RECT rc{};
    const HWND other = ::GetDlgItem(sheet_hwnd_, id);
    if (other != nullptr && ::IsWindowVisible(other) && ::GetWindowRect(other, &rc)) right = std::max(right, rc.right);
  }
  const int pitch = cancel.left - ok.left;
  const int width = ok.right - ok.left;
  const int lastLeft = right - width;
  for (const SheetButton& button : CFileOpenPropSheet::Buttons()) {
    const HWND control = ::GetDlgItem(sheet_hwnd_, button.id);
    if (control == nullptr) continue;
    if (!button.visible) {
      ::ShowWindow(control, SW_HIDE);
      continue;
    }
    RECT rc{};
    ::GetWindowRect(control, &rc);
    POINT at{lastLeft - (2 - button.place) * pitch, rc.top};
    ::ScreenToClient(sheet_hwnd_, &at);
    ::SetWindowPos(control, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (const HWND apply = ::GetDlgItem(sheet_hwnd_, kApplyId)) ::ShowWindow(apply, SW_HIDE);
}

intptr_t __stdcall SetupSheet::PageProc(HWND hwnd, unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_INITDIALOG) {
    const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
    auto* page = reinterpret_cast<PageWindow*>(sheetPage->lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
    page->hwnd = hwnd;
    page->owner->InitPage(*page);
    return TRUE;
  }
  auto* page = reinterpret_cast<PageWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (page == nullptr) return FALSE;
  return page->owner->OnPageMessage(*page, message, wParam, lParam) ? TRUE : FALSE;
}

void SetupSheet::InitPage(PageWindow& page) {
  const CPropertyPage& model = sheet_.GetPage(page.index);
  const std::vector<CPropertyPage::FileRow>& rows = model.Rows();
  for (size_t r = 0; r < rows.size() && r < std::size(kRowLabels); ++r) {
    ::SetDlgItemTextW(page.hwnd, kRowLabels[r], Widen(rows[r].label).c_str());
  }
  ::SetDlgItemTextW(page.hwnd, VT_IDC_BAUD_LABEL, Widen(CPropertyPage::kBaudLabel).c_str());
  const HWND combo = ::GetDlgItem(page.hwnd, IDC_BAUD_COMBO);
  for (const std::string& entry : model.Combo().list) {
    ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(entry).c_str()));
  }
}

void SetupSheet::ShowPage(int index) {
  const CPropertyPage& model = sheet_.GetPage(index);
  const HWND hwnd = pages_[index].hwnd;
  if (hwnd == nullptr) return;
  syncing_ = true;
  for (const CPropertyPage::FileRow& row : model.Rows()) {
    ::SetDlgItemTextW(hwnd, row.editId, Widen(row.text).c_str());
  }
  const ComboBoxState& combo = model.Combo();
  const HWND comboBox = ::GetDlgItem(hwnd, IDC_BAUD_COMBO);
  ::SendMessageW(comboBox, CB_SETCURSEL, static_cast<WPARAM>(combo.selected), 0);
  ::SetWindowTextW(comboBox, Widen(combo.editText).c_str());
  syncing_ = false;
}

bool SetupSheet::OnPageMessage(PageWindow& page, unsigned message, uintptr_t wParam, intptr_t lParam) {
  CPropertyPage& model = sheet_.GetPage(page.index);
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    LONG_PTR result = 0;
    switch (header->code) {
      case PSN_SETACTIVE:
        // The page that was left has taken its texts already (PSN_KILLACTIVE).
        if (sheet_.GetActiveIndex() != page.index) sheet_.SetActivePage(page.index);
        ShowPage(page.index);
        break;
      case PSN_KILLACTIVE:
        // A refused text keeps the page.
        result = model.IsCreated() && !model.UpdateMembers() ? TRUE : FALSE;
        break;
      case PSN_APPLY:
        // Every page hears OK; the model takes it once, on the active page.
        if (page.index == sheet_.GetActiveIndex()) {
          if (sheet_.OnOK()) {
            accepted_ = true;
          } else {
            result = PSNRET_INVALID_NOCHANGEPAGE;
          }
        }
        break;
      default:
        return false;
    }
    ::SetWindowLongPtrW(page.hwnd, DWLP_MSGRESULT, result);
    return true;
  }
  if (message != WM_COMMAND || syncing_) return false;
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  const HWND control = reinterpret_cast<HWND>(lParam);
  if (id == IDC_BAUD_COMBO) {
    if (code == CBN_EDITCHANGE) {
      model.SetComboEditText(Narrow(ControlText(control)));
    } else if (code == CBN_SELCHANGE) {
      model.SelectComboEntry(static_cast<int>(::SendMessageW(control, CB_GETCURSEL, 0, 0)));
    }
    return true;
  }
  if (code == EN_CHANGE && model.FindRowByEdit(id) != nullptr) {
    model.SetEditText(id, Narrow(ControlText(control)));
    return true;
  }
  if (code == BN_CLICKED) {
    if (const CPropertyPage::FileRow* row = model.FindRowByBrowse(id)) {
      std::optional<std::string> chosen = chooser_(sheet_hwnd_, *row);
      if (chosen) {
        model.OnBrowse(id, chosen);
        ShowPage(page.index);
      }
      return true;
    }
  }
  return false;
}

std::wstring SetupSheet::FilterString(const std::string& filter) {
  std::wstring out;
  for (const auto& [display, pattern] : ParseFileFilter(filter)) {
    out += Widen(display);
    out += L'\0';
    out += Widen(pattern);
    out += L'\0';
  }
  out += L'\0';
  return out;
}

std::optional<std::string> SetupSheet::ChooseFileWithDialog(HWND owner, const CPropertyPage::FileRow& row) {
  const std::wstring filter = FilterString(row.filter);
  wchar_t file[MAX_PATH * 4] = {};
  const std::wstring initial = Widen(row.initialName);
  initial.copy(file, std::min(initial.size(), std::size(file) - 1));
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = static_cast<DWORD>(std::size(file));
  // The classic dialog (no OFN_EXPLORER), without the read-only check box.
  ofn.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  if (!::GetOpenFileNameW(&ofn)) return std::nullopt;
  return Narrow(file);
}

}  // namespace vtwin
