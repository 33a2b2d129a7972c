// The "Files" sheet of the Setup procedure: a modal dialog with the tabs
// "QZ6-Gen2" and "QZ6" (templates 149 and 148), OK and Cancel. It shows a
// CFileOpenPropSheet model: the controls show the model's control contents,
// typing, tab changes, Browse results and OK go to the model, which decides
// (a text over 260 characters keeps the page open with its message).
//
// The main window's view runs it from CProgrammerDlg::RunSetup; the model's
// members reach the settings only when this returns Accepted.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/file_open_sheet.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace vtgui {

class SetupSheetView : public QDialog {
  Q_OBJECT

 public:
  // Asks the operator for a file for a row; nullopt when cancelled.
  using FileChooser =
      std::function<std::optional<std::string>(QWidget* parent, const CPropertyPage::FileRow&)>;

  // The sheet model must have run its OnInitDialog.
  SetupSheetView(CFileOpenPropSheet& sheet, QWidget* parent);

  // Replaces the file-open dialog (tests).
  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

  QTabWidget* Tabs() const { return tabs_; }
  QLineEdit* Edit(int page, int editId) const;
  QPushButton* BrowseButton(int page, int browseId) const;
  QComboBox* BaudCombo(int page) const;
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

  // The file-open dialog's filter list for a filter literal such as
  // "Run Files (*.run) | *.run | All Files (*.*) | *.* ||": one entry per
  // pair, its display text as written; "*.*" matches every file.
  static QStringList NameFilters(const std::string& filter);
  // The standard file-open dialog for a row: its filters, its initial name,
  // an existing file to choose.
  static std::optional<std::string> ChooseFileWithDialog(QWidget* parent,
                                                         const CPropertyPage::FileRow& row);

 public slots:
  void accept() override;

 private:
  struct PageControls {
    QWidget* page = nullptr;
    std::vector<std::pair<int, QLineEdit*>> edits;      // by edit id
    std::vector<std::pair<int, QPushButton*>> browses;  // by Browse id
    QComboBox* combo = nullptr;
  };

  QWidget* BuildPage(int index);
  // Shows the model's control contents of a page.
  void ShowPage(int index);
  void OnTabChanged(int index);
  void OnBrowse(int index, int browseId);

  CFileOpenPropSheet& sheet_;
  FileChooser chooser_;
  QTabWidget* tabs_;
  QPushButton* ok_;
  QPushButton* cancel_;
  PageControls pages_[CFileOpenPropSheet::kPageCount];
  int shownIndex_ = 0;
  bool syncing_ = false;  // controls are being filled from the model
};

}  // namespace vtgui
