// CStationSettings: the station's settings as ZANDRIC.INI holds them: the
// firmware files of each platform, the line rates, the options and the log
// folder, with their loading and saving. The main window (CProgrammerDlg) is
// one; the pre-flight check reads the settings through one of its own
// without any window or panel.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "link/scanner_family.h"
#include "platform/sync_string.h"

// Name of the configuration file in the program folder.
inline constexpr const char* kIniFileName = "ZANDRIC.INI";

class CStationSettings {
 public:
  CStationSettings() = default;
  virtual ~CStationSettings() = default;
  CStationSettings(const CStationSettings&) = delete;
  CStationSettings& operator=(const CStationSettings&) = delete;

  // Reads ZANDRIC.INI in m_szAppDir into the members and g_portTable's log fields.
  void LoadSettings();
  // Writes the members and the logging switches of the open panels back.
  void SaveSettings();
  // The pre-load values: options n/y/n/n, both baud members 115200, paths empty.
  void SetPreloadDefaults();
  // m_szAppDir followed by the platform's separator and "ZANDRIC.INI".
  std::string GetIniPath() const;

  // Paths for a scanner of the family (copies; empty when not configured):
  // the [MV2] files for MV2, the [QZ6] files for QZ500 and QZ600.
  std::string GetRCPFile(ScannerFamily family) const;
  std::string GetVTCFile(ScannerFamily family) const;
  std::string GetLDRFile(ScannerFamily family, int boardVersion) const;

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
  // Guards the settings as one set while Setup changes them or a run copies
  // them; each member is also safe to read on its own.
  mutable std::mutex m_settingsMutex;
};
