// The "Files" sheet of the Setup procedure: a modal system property sheet
// (PropertySheetW) with the tabs "QZ6-Gen2" and "QZ6" (templates 149 and
// 148), OK and Cancel. It shows a CFileOpenPropSheet model: the controls show
// the model's control contents; typing, tab changes, Browse results and OK
// go to the model, which decides (a text over 260 characters keeps the page
// open with its message).
//
// The main window runs it from CProgrammerDlg::RunSetup; the model's members
// reach the settings only when Run returns true.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/file_open_sheet.h"
#include "handles.h"

namespace vtwin {

class SetupSheet {
 public:
  // Asks the operator for a file for a row; nullopt when cancelled.
  using FileChooser = std::function<std::optional<std::string>(HWND owner, const CPropertyPage::FileRow&)>;

  // The sheet model must have run its OnInitDialog.
  SetupSheet(CFileOpenPropSheet& sheet, HWND parent);
  SetupSheet(const SetupSheet&) = delete;
  SetupSheet& operator=(const SetupSheet&) = delete;

  // Replaces the file-open dialog (tests).
  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
  // Called on the window thread once the sheet is on screen, from within its
  // modal loop (tests drive the sheet from here).
  void SetOpened(std::function<void(SetupSheet&)> opened) { opened_ = std::move(opened); }

  // Runs the sheet modally; true when it ended with OK.
  bool Run();

  HWND Sheet() const { return sheet_hwnd_; }
  // A page's window, null until the page has been shown once.
  HWND Page(int index) const { return pages_[index].hwnd; }
  CFileOpenPropSheet& Model() { return sheet_; }

  // The file-open dialog's filter for a filter literal such as
  // "Run Files (*.run) | *.run | All Files (*.*) | *.* ||": display text and
  // pattern of each pair, each ended by a zero character, the list by a
  // second one.
  static std::wstring FilterString(const std::string& filter);
  // The standard file-open dialog in its classic form for a row: its
  // filter, its initial name, no default extension, no read-only box.
  static std::optional<std::string> ChooseFileWithDialog(HWND owner, const CPropertyPage::FileRow& row);

 private:
  struct PageWindow {
    SetupSheet* owner = nullptr;
    int index = 0;
    HWND hwnd = nullptr;
  };

  static intptr_t __stdcall PageProc(HWND hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);
  static int __stdcall SheetCallback(HWND hwnd, unsigned message, intptr_t lParam);
  static void __stdcall OpenedTimer(HWND hwnd, unsigned message, uintptr_t id, unsigned long time);
  bool OnPageMessage(PageWindow& page, unsigned message, uintptr_t wParam, intptr_t lParam);
  void InitPage(PageWindow& page);
  // Shows the model's control contents of a page.
  void ShowPage(int index);
  // OK, Cancel and Help where the sheet's initialisation puts them.
  void ArrangeButtons();

  CFileOpenPropSheet& sheet_;
  HWND parent_;
  HWND sheet_hwnd_ = nullptr;
  FileChooser chooser_;
  std::function<void(SetupSheet&)> opened_;
  PageWindow pages_[CFileOpenPropSheet::kPageCount];
  bool accepted_ = false;
  bool syncing_ = false;  // controls are being filled from the model
};

}  // namespace vtwin
