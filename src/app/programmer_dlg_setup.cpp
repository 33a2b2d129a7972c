// The Setup procedure: the main window's settings into the "Files" sheet and,
// on OK, back. The sheet edits memory only; the file is written at exit.
#include <string>

#include "app/file_open_sheet.h"
#include "app/programmer_dlg.h"

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

void CProgrammerDlg::CopySettingsToSheet(CFileOpenPropSheet& sheet) {
  CPropertyPageMV2& mv2 = sheet.m_pageMV2;
  CPropertyPageQZ6& qz6 = sheet.m_pageQZ6;
  CopyIn(m_strLdrFileQZ6, qz6.m_strLdrFile);
  CopyIn(m_strRcpFileQZ6, qz6.m_strRcpFile);
  CopyIn(m_strVtcFileQZ6, qz6.m_strVtcFile);
  CopyIn(m_strCpldFileQZ6, qz6.m_strCpldFile);
  CopyIn(m_strDspFileQZ6, qz6.m_strDspFile);
  CopyIn(m_strLdrFileMV2, mv2.m_strLdrFile);
  CopyIn(m_strRcpFileMV2, mv2.m_strRcpFile);
  CopyIn(m_strVtcFileMV2, mv2.m_strVtcFile);
  CopyIn(m_strFpgaFileMV2, mv2.m_strFpgaFile);
  CopyIn(m_strUimFileMV2, mv2.m_strUimFile);
  BaudIn(m_nBaudMV2, mv2.m_strBaud);
  BaudIn(m_nBaudQZ6, qz6.m_strBaud);
}

void CProgrammerDlg::CopySheetToSettings(const CFileOpenPropSheet& sheet) {
  std::lock_guard<std::mutex> lock(m_settingsMutex);
  const CPropertyPageMV2& mv2 = sheet.m_pageMV2;
  const CPropertyPageQZ6& qz6 = sheet.m_pageQZ6;
  m_strLdrFileMV2.Set(mv2.m_strLdrFile);
  m_strRcpFileMV2.Set(mv2.m_strRcpFile);
  m_strVtcFileMV2.Set(mv2.m_strVtcFile);
  m_strFpgaFileMV2.Set(mv2.m_strFpgaFile);
  m_strUimFileMV2.Set(mv2.m_strUimFile);
  m_nBaudMV2 = BaudOut(mv2.m_strBaud);
  m_strLdrFileQZ6.Set(qz6.m_strLdrFile);
  m_strRcpFileQZ6.Set(qz6.m_strRcpFile);
  m_strVtcFileQZ6.Set(qz6.m_strVtcFile);
  m_strCpldFileQZ6.Set(qz6.m_strCpldFile);
  m_strDspFileQZ6.Set(qz6.m_strDspFile);
  m_nBaudQZ6 = BaudOut(qz6.m_strBaud);
}

void CProgrammerDlg::RunSetup(const std::function<bool(CFileOpenPropSheet&)>& runModal) {
  CFileOpenPropSheet sheet;
  CopySettingsToSheet(sheet);
  sheet.OnInitDialog();
  if (runModal && runModal(sheet)) CopySheetToSettings(sheet);
}
