#include "about_box.h"

#include "app/programmer_dlg.h"
#include "resource_ids.h"
#include "text.h"
#include "windows_api.h"

namespace vtwin {

namespace {

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      ::SetWindowTextW(hwnd, Widen(kAboutCaption).c_str());
      ::SetDlgItemTextW(hwnd, VT_IDC_ABOUT_VERSION, Widen(kAboutVersion).c_str());
      ::SetDlgItemTextW(hwnd, VT_IDC_ABOUT_NOTICE, Widen(kAboutNotice).c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void RunAboutBox(HWND owner) {
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(VT_IDD_ABOUTBOX), owner, AboutProc, 0);
}

}  // namespace vtwin
