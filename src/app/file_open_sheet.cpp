#include "app/file_open_sheet.h"

#include <cctype>

#include "app/settings_table.h"
#include "platform/message_box.h"

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (prefix.size() > text.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseFileFilter(const std::string& filter) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= filter.size()) {
    size_t bar = filter.find('|', pos);
    if (bar == std::string::npos) bar = filter.size();
    parts.push_back(Trim(filter.substr(pos, bar - pos)));
    pos = bar + 1;
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  // The list ends at the first empty display text (the "||" at its end).
  for (size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
    pairs.emplace_back(parts[i], parts[i + 1]);
  }
  return pairs;
}

// ---- CPropertyPage ----

const CPropertyPage::FileRow* CPropertyPage::FindRowByEdit(int editId) const {
  for (const FileRow& row : m_rows) {
    if (row.editId == editId) return &row;
  }
  return nullptr;
}

const CPropertyPage::FileRow* CPropertyPage::FindRowByBrowse(int browseId) const {
  for (const FileRow& row : m_rows) {
    if (row.browseId == browseId) return &row;
  }
  return nullptr;
}

void CPropertyPage::AddRow(const char* key, std::string* member) {
  const SettingKey* setting = FindFileSetting(m_pszSection, key);
  const SheetRow& row = setting->row;
  m_rows.push_back({row.label, row.editId, row.browseId, row.initialName, row.filter, member, {}});
}

CPropertyPage::FileRow* CPropertyPage::Row(int editId) {
  return const_cast<FileRow*>(FindRowByEdit(editId));
}

void CPropertyPage::OnSetActive() {
  if (m_bCreated) return;
  m_bCreated = true;
  UpdateControls();
}

void CPropertyPage::UpdateControls() {
  for (FileRow& row : m_rows) row.text = *row.member;
  m_combo.selected = -1;
  for (size_t i = 0; i < m_combo.list.size(); ++i) {
    if (StartsWithNoCase(m_combo.list[i], m_strBaud)) {
      m_combo.selected = static_cast<int>(i);
      m_combo.editText = m_combo.list[i];
      return;
    }
  }
  m_combo.editText = m_strBaud;
}

bool CPropertyPage::UpdateMembers() {
  for (const FileRow& row : m_rows) {
    if (row.text.size() > kMaxFieldChars) {
      ShowInfo(kFieldTooLongText);
      return false;
    }
  }
  if (m_combo.editText.size() > kMaxFieldChars) {
    ShowInfo(kFieldTooLongText);
    return false;
  }
  for (FileRow& row : m_rows) *row.member = row.text;
  m_strBaud = m_combo.editText;
  return true;
}

void CPropertyPage::SetEditText(int editId, const std::string& text) {
  if (FileRow* row = Row(editId)) row->text = text;
}

void CPropertyPage::SetComboEditText(const std::string& text) {
  m_combo.editText = text;
  m_combo.selected = -1;
}

void CPropertyPage::SelectComboEntry(int index) {
  if (index < 0 || index >= static_cast<int>(m_combo.list.size())) return;
  m_combo.selected = index;
  m_combo.editText = m_combo.list[static_cast<size_t>(index)];
}

void CPropertyPage::OnBrowse(int browseId, const std::optional<std::string>& chosenPath) {
  const FileRow* row = FindRowByBrowse(browseId);
  if (row == nullptr || !chosenPath) return;
  *row->member = *chosenPath;
  UpdateControls();
}

// ---- the two pages ----
// Rows in template order (LDR first, RCP last).

CPropertyPageQZ6::CPropertyPageQZ6()
    : CPropertyPage("QZ6", 148, "QZ6", {"28800", "38400", "57600"}) {
  AddRow("LDR", &m_strLdrFile);
  AddRow("CPLD", &m_strCpldFile);
  AddRow("DSP", &m_strDspFile);
  AddRow("VTC", &m_strVtcFile);
  AddRow("RCP", &m_strRcpFile);
}

CPropertyPageMV2::CPropertyPageMV2()
    : CPropertyPage("QZ6-Gen2", 149, "MV2", {"28800", "38400", "57600", "115200"}) {
  AddRow("LDR", &m_strLdrFile);
  AddRow("FPGA", &m_strFpgaFile);
  AddRow("UIM", &m_strUimFile);
  AddRow("VTC", &m_strVtcFile);
  AddRow("RCP", &m_strRcpFile);
}

// ---- CFileOpenPropSheet ----

CPropertyPage& CFileOpenPropSheet::GetPage(int index) {
  return index == 0 ? static_cast<CPropertyPage&>(m_pageMV2) : m_pageQZ6;
}

const CPropertyPage& CFileOpenPropSheet::GetPage(int index) const {
  return index == 0 ? static_cast<const CPropertyPage&>(m_pageMV2) : m_pageQZ6;
}

CPropertyPage* CFileOpenPropSheet::FindPage(const std::string& section) {
  for (int i = 0; i < kPageCount; ++i) {
    if (section == GetPage(i).Section()) return &GetPage(i);
  }
  return nullptr;
}

const CPropertyPage* CFileOpenPropSheet::FindPage(const std::string& section) const {
  return const_cast<CFileOpenPropSheet*>(this)->FindPage(section);
}

void CFileOpenPropSheet::OnInitDialog() {
  m_nActivePage = 0;
  GetPage(0).OnSetActive();
}

bool CFileOpenPropSheet::SetActivePage(int index) {
  if (index < 0 || index >= kPageCount) return false;
  if (index == m_nActivePage) return true;
  if (GetPage(m_nActivePage).IsCreated() && !GetPage(m_nActivePage).UpdateMembers()) return false;
  m_nActivePage = index;
  GetPage(index).OnSetActive();
  return true;
}

bool CFileOpenPropSheet::OnOK() {
  CPropertyPage& page = GetPage(m_nActivePage);
  return !page.IsCreated() || page.UpdateMembers();
}

std::vector<SheetButton> CFileOpenPropSheet::Buttons() {
  return {{kSheetOkId, "OK", 1, true}, {kSheetCancelId, "Cancel", 2, true}, {kSheetHelpId, "Help", 2, false}};
}
