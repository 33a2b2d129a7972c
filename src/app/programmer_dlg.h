// CProgrammerDlg: the main window's model. It is the one holder of the
// settings (loaded from ZANDRIC.INI at start-up, saved at exit) and of
// m_nFamily, the family of the scanner identified last, which every port's
// threads read through their panel's m_pMainDlg. The window side (panel grid,
// USB row, menus) is kept as plain values that a front end shows.
#pragma once

#include <atomic>
#include <string>

#include "platform/sync_string.h"

// String resource 102: the product title.
inline constexpr const char* kProductTitle = "ZEV QZ600/700 Vantorel";

// Family codes.
constexpr int kFamilyMV2 = 2;
constexpr int kFamilyQZ500 = 5;
constexpr int kFamilyQZ600 = 6;

class CProgrammerDlg {
 public:
  CProgrammerDlg();
  virtual ~CProgrammerDlg();

  // ---- settings ----
  // Reads ZANDRIC.INI in m_szAppDir into the members and g_portTable's log fields.
  void LoadSettings();
  // Writes the members and the logging switches of the open panels back.
  void SaveSettings();
  // The pre-load values: options n/y/n/n, both baud members 115200, paths empty.
  void SetPreloadDefaults();
  // m_szAppDir followed by the platform's separator and "ZANDRIC.INI".
  std::string GetIniPath() const;

  // Paths chosen by the detected family (copies; empty when not configured).
  std::string GetRCPFile() const;
  std::string GetVTCFile() const;
  std::string GetLDRFile(int boardVersion) const;

  char m_szAppDir[300] = {};
  platform::SyncString m_strRcpFileMV2;
  platform::SyncString m_strLdrFileMV2;
  platform::SyncString m_strLdrPre50FileMV2;
  platform::SyncString m_strFpgaFileMV2;
  platform::SyncString m_strUimFileMV2;
  platform::SyncString m_strVtcFileMV2;
  platform::SyncString m_strLogPath;
  platform::SyncString m_strRcpFileQZ6;
  platform::SyncString m_strLdrFileQZ6;
  platform::SyncString m_strCpldFileQZ6;
  platform::SyncString m_strDspFileQZ6;
  platform::SyncString m_strVtcFileQZ6;
  std::atomic<int> m_nBaudMV2{115200};
  std::atomic<int> m_nBaudQZ6{115200};
  std::atomic<bool> m_bLeaveImages{false};
  std::atomic<bool> m_bPermitLoaderOverwrite{false};
  std::atomic<bool> m_bPreserveSerialNumber{true};
  std::atomic<bool> m_bIncludeSetupMenu{false};

  // Family code of the scanner identified last; written by every handshake.
  std::atomic<int> m_nFamily{0};
};

// 1 when the platform's file search finds the path; 0 otherwise, after the box
// "File %s not found" when report is non-zero.
int FileExists(const std::string& path, int report);
// 1 for 115200, 57600, 38400 and 28800, else 0.
int IsValidBaudRate(int rate);

// The decimal number at the start of a text (blanks and a sign allowed before
// the digits, as atoi takes them); 0 when it starts with no digit. Values
// beyond the int range are held at its ends.
int LeadingNumber(const std::string& text);

// Name of the configuration file in the program folder.
inline constexpr const char* kIniFileName = "ZANDRIC.INI";

// Installs the [Ports] section of the configuration file at iniPath as the
// place where port names lead (COMn and ZEVn to device paths) and as the
// entries the device map lists. Only POSIX backends use it. LoadSettings runs
// it; the application start-up runs it before the first port scan.
void InstallPortsSection(const std::string& iniPath);
