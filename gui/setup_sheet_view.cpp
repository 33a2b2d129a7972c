#include "setup_sheet_view.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "dialog_units.h"

namespace vtgui {

namespace {

// Where the five file rows of both page templates stand, in dialog units:
// label, edit box and Browse button of each row, in template order.
struct RowPlace {
  int labelY;
  int editX;
  int editY;
  int browseY;
};
constexpr RowPlace kRowPlaces[] = {
    {13, 81, 13, 13}, {33, 81, 35, 35}, {57, 81, 57, 57}, {79, 81, 79, 79}, {100, 82, 101, 101},
};
constexpr int kLabelX = 7;
constexpr int kBrowseX = 247;

// The page templates' size and the sheet's margins and buttons, in pixels
// of the dialog font in use.
QSize PageSize() { return DluSize(312, 173); }
int Margin() { return DluX(7); }
QSize ButtonSize() { return DluSize(50, 14); }
int ButtonGap() { return DluX(6); }
constexpr int kButtonPlaces = 3;

QString FromModel(const std::string& text) { return QString::fromLocal8Bit(text); }
std::string ToModel(const QString& text) { return text.toLocal8Bit().toStdString(); }

}  // namespace

SetupSheetView::SetupSheetView(CFileOpenPropSheet& sheet, QWidget* parent)
    : QDialog(parent), sheet_(sheet), chooser_(&SetupSheetView::ChooseFileWithDialog) {
  setWindowTitle(CFileOpenPropSheet::kCaption);
  setFont(DialogFont());
  setModal(true);

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("pages");
  for (int i = 0; i < CFileOpenPropSheet::kPageCount; ++i) {
    tabs_->addTab(BuildPage(i), sheet_.GetPage(i).Caption());
  }
  const QSize tabsSize = tabs_->sizeHint().expandedTo(tabs_->minimumSizeHint());
  tabs_->setGeometry(QRect(QPoint(Margin(), Margin()), tabsSize));

  // The sheet's buttons after its initialisation: no Apply, Help hidden,
  // Cancel in Help's place and OK in Cancel's, right-aligned under the pages.
  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("okButton");
  ok_->setDefault(true);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("cancelButton");
  const int buttonsTop = tabs_->geometry().bottom() + 1 + Margin();
  const int right = tabs_->geometry().right() + 1;
  for (const SheetButton& button : CFileOpenPropSheet::Buttons()) {
    QPushButton* widget = button.id == kSheetOkId ? ok_ : button.id == kSheetCancelId ? cancel_ : nullptr;
    if (widget == nullptr || !button.visible) continue;
    const int fromRight = kButtonPlaces - button.place;
    const int x = right - fromRight * ButtonSize().width() - (fromRight - 1) * ButtonGap();
    widget->setGeometry(QRect(QPoint(x, buttonsTop), ButtonSize()));
  }
  connect(ok_, &QPushButton::clicked, this, &SetupSheetView::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(right + Margin(), buttonsTop + ButtonSize().height() + Margin());

  shownIndex_ = sheet_.GetActiveIndex();
  syncing_ = true;
  tabs_->setCurrentIndex(shownIndex_);
  syncing_ = false;
  ShowPage(shownIndex_);
  connect(tabs_, &QTabWidget::currentChanged, this, &SetupSheetView::OnTabChanged);
}

QWidget* SetupSheetView::BuildPage(int index) {
  CPropertyPage& model = sheet_.GetPage(index);
  PageControls& controls = pages_[index];
  auto* page = new QWidget;
  page->setObjectName(model.Caption());
  page->setFixedSize(PageSize());
  controls.page = page;

  const std::vector<CPropertyPage::FileRow>& rows = model.Rows();
  for (size_t r = 0; r < rows.size() && r < std::size(kRowPlaces); ++r) {
    const CPropertyPage::FileRow& row = rows[r];
    const RowPlace& place = kRowPlaces[r];
    auto* label = new QLabel(row.label, page);
    label->setGeometry(DluRect(kLabelX, place.labelY, 65, 14));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* edit = new QLineEdit(page);
    edit->setObjectName(QString("edit%1").arg(row.editId));
    edit->setGeometry(DluRect(place.editX, place.editY, 151, 14));
    label->setBuddy(edit);
    const int editId = row.editId;
    connect(edit, &QLineEdit::textEdited, this, [this, index, editId](const QString& text) {
      if (!syncing_) sheet_.GetPage(index).SetEditText(editId, ToModel(text));
    });
    controls.edits.emplace_back(editId, edit);

    auto* browse = new QPushButton("&Browse...", page);
    browse->setObjectName(QString("browse%1").arg(row.browseId));
    browse->setGeometry(DluRect(kBrowseX, place.browseY, 58, 15));
    const int browseId = row.browseId;
    connect(browse, &QPushButton::clicked, this, [this, index, browseId] { OnBrowse(index, browseId); });
    controls.browses.emplace_back(browseId, browse);
  }

  auto* baudLabel = new QLabel(CPropertyPage::kBaudLabel, page);
  baudLabel->setGeometry(DluRect(kLabelX, 133, 65, 14));
  baudLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // A drop-down list whose field takes any text.
  auto* combo = new QComboBox(page);
  combo->setObjectName("baudCombo");
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setGeometry(DluRect(83, 134, 48, 14));
  for (const std::string& entry : model.Combo().list) combo->addItem(FromModel(entry));
  baudLabel->setBuddy(combo);
  connect(combo, &QComboBox::editTextChanged, this, [this, index](const QString& text) {
    if (!syncing_) sheet_.GetPage(index).SetComboEditText(ToModel(text));
  });
  connect(combo, &QComboBox::activated, this, [this, index](int entry) {
    if (!syncing_) sheet_.GetPage(index).SelectComboEntry(entry);
  });
  controls.combo = combo;
  return page;
}

void SetupSheetView::ShowPage(int index) {
  const CPropertyPage& model = sheet_.GetPage(index);
  PageControls& controls = pages_[index];
  syncing_ = true;
  for (auto& [editId, edit] : controls.edits) {
    if (const CPropertyPage::FileRow* row = model.FindRowByEdit(editId)) {
      edit->setText(FromModel(row->text));
      // A long path shows from its start, as a fresh edit box does.
      edit->setCursorPosition(0);
    }
  }
  const ComboBoxState& combo = model.Combo();
  controls.combo->setCurrentIndex(combo.selected);
  controls.combo->setEditText(FromModel(combo.editText));
  syncing_ = false;
}

void SetupSheetView::OnTabChanged(int index) {
  if (syncing_) return;
  if (!sheet_.SetActivePage(index)) {
    // The page being left refused its texts: it stays.
    syncing_ = true;
    tabs_->setCurrentIndex(sheet_.GetActiveIndex());
    syncing_ = false;
    return;
  }
  shownIndex_ = index;
  ShowPage(index);
}

void SetupSheetView::OnBrowse(int index, int browseId) {
  CPropertyPage& model = sheet_.GetPage(index);
  const CPropertyPage::FileRow* row = model.FindRowByBrowse(browseId);
  if (row == nullptr) return;
  std::optional<std::string> chosen = chooser_(this, *row);
  if (!chosen) return;
  model.OnBrowse(browseId, chosen);
  ShowPage(index);
}

void SetupSheetView::accept() {
  if (sheet_.OnOK()) QDialog::accept();
}

QLineEdit* SetupSheetView::Edit(int page, int editId) const {
  for (const auto& [id, edit] : pages_[page].edits) {
    if (id == editId) return edit;
  }
  return nullptr;
}

QPushButton* SetupSheetView::BrowseButton(int page, int browseId) const {
  for (const auto& [id, button] : pages_[page].browses) {
    if (id == browseId) return button;
  }
  return nullptr;
}

QComboBox* SetupSheetView::BaudCombo(int page) const { return pages_[page].combo; }

QStringList SetupSheetView::NameFilters(const std::string& filter) {
  QStringList filters;
  for (const auto& [display, pattern] : ParseFileFilter(filter)) {
    // The dialog takes its patterns from the last parenthesis of each entry
    // and hides that parenthesis; "*.*" there would ask for a dot in the name.
    QString patterns = FromModel(pattern).split(';', Qt::SkipEmptyParts).join(' ');
    patterns.replace("*.*", "*");
    filters << QString("%1 (%2)").arg(FromModel(display), patterns);
  }
  return filters;
}

std::optional<std::string> SetupSheetView::ChooseFileWithDialog(QWidget* parent,
                                                                const CPropertyPage::FileRow& row) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  // The program's own dialog, the same on every system.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setNameFilters(NameFilters(row.filter));
  dialog.setDirectory(QDir::currentPath());
  dialog.selectFile(row.initialName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return ToModel(QDir::toNativeSeparators(dialog.selectedFiles().first()));
}

}  // namespace vtgui
