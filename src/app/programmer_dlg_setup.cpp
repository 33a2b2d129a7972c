// The Setup procedure: the main window's settings into the "Files" sheet and,
// on OK, back. The sheet edits memory only; the file is written at exit.
#include <string>

#include "app/file_open_sheet.h"
#include "app/programmer_dlg.h"
#include "app/settings_table.h"

namespace {

constexpr int kReplacementBaud = 115200;

void CopyIn(const platform::SyncString& setting, std::string& member) {
  std::string value = setting.Get();
  if (!value.empty()) member = value;
}

// An invalid rate is replaced in the settings as the sheet opens, and the
// replacement stays whether the sheet then ends with OK or Cancel.
void BaudIn(std::atomic<int>& setting, std::string& member) {
  if (!IsValidBaudRate(setting)) setting = kReplacementBaud;
  member = std::to_string(setting.load());
}

int BaudOut(const std::string& text) {
  int rate = LeadingNumber(text);
  return IsValidBaudRate(rate) ? rate : kReplacementBaud;
}

}  // namespace

// Every rate and every file with a row on the sheet goes to its section's page
// and back.
void CProgrammerDlg::CopySettingsToSheet(CFileOpenPropSheet& sheet) {
  for (const SettingKey& setting : SettingKeys()) {
    CPropertyPage* page = sheet.FindPage(setting.section);
    if (page == nullptr) continue;
    if (setting.kind == SettingKind::kBaud) {
      BaudIn(this->*setting.rate, page->m_strBaud);
    } else if (setting.kind == SettingKind::kFile && setting.row.label != nullptr) {
      CopyIn(this->*setting.text, *page->FindRowByEdit(setting.row.editId)->member);
    }
  }
}

void CProgrammerDlg::CopySheetToSettings(const CFileOpenPropSheet& sheet) {
  std::lock_guard<std::mutex> lock(m_settingsMutex);
  for (const SettingKey& setting : SettingKeys()) {
    const CPropertyPage* page = sheet.FindPage(setting.section);
    if (page == nullptr) continue;
    if (setting.kind == SettingKind::kBaud) {
      this->*setting.rate = BaudOut(page->m_strBaud);
    } else if (setting.kind == SettingKind::kFile && setting.row.label != nullptr) {
      (this->*setting.text).Set(*page->FindRowByEdit(setting.row.editId)->member);
    }
  }
}

void CProgrammerDlg::RunSetup(const std::function<bool(CFileOpenPropSheet&)>& runModal) {
  CFileOpenPropSheet sheet;
  CopySettingsToSheet(sheet);
  sheet.OnInitDialog();
  if (runModal && runModal(sheet)) CopySheetToSettings(sheet);
}
