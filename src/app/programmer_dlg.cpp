#include "app/programmer_dlg.h"

#include "app/result_log.h"
#include "app/results_db.h"
#include "link/comm_dialog.h"
#include "update/send_proc.h"

CProgrammerDlg::CProgrammerDlg() = default;

// A model destroyed without DestroyWindow (tests, a front end that failed to
// start) still ends its panels' connections, but saves nothing.
CProgrammerDlg::~CProgrammerDlg() {
  for (PanelSlot& slot : m_panels) DestroyPanel(slot);
}

void CProgrammerDlg::SetPreloadDefaults() {
  m_bLeaveImages = false;
  m_bPermitLoaderOverwrite = false;
  m_bPreserveSerialNumber = true;
  m_bIncludeSetupMenu = false;
  m_nBaudMV2 = 115200;
  m_nBaudQZ6 = 115200;
  for (platform::SyncString* s :
       {&m_strRcpFileMV2, &m_strLdrFileMV2, &m_strLdrPre50FileMV2, &m_strFpgaFileMV2,
        &m_strUimFileMV2, &m_strVtcFileMV2, &m_strLogPath, &m_strRcpFileQZ6, &m_strLdrFileQZ6,
        &m_strCpldFileQZ6, &m_strDspFileQZ6, &m_strVtcFileQZ6}) {
    s->Set("");
  }
}

ProgrammingRoutine CProgrammerDlg::GetProgrammingRoutine() {
  // The main window outlives its panels and so every run of theirs.
  return [this](CCommDialog* panel) { return sendProc(panel, *this, this); };
}

std::string CProgrammerDlg::GetLogFolder() const {
  const std::string logPath = m_strLogPath.Get();
  return logPath.empty() ? std::string(m_szAppDir) : logPath;
}

void CProgrammerDlg::RecordRun(CCommDialog* panel, const RunRecord& record) {
  const RunStamp stamp{m_strStationName, UtcOffsetText(), NewRunId()};
  // The file first: the database copy is sent from it, in the background.
  if (AppendResult(GetLogFolder(), record, stamp) && m_pResultsDb) m_pResultsDb->Notify();
  RunObserver observer;
  {
    std::lock_guard<std::mutex> lock(m_runObserverMutex);
    observer = m_runObserver;
  }
  if (observer) observer(panel, record);
}

void CProgrammerDlg::StartResultsDb() {
  if (m_pResultsDb) return;
  ResultsDbSettings settings = LoadResultsDbSettings(GetIniPath());
  m_strStationName = settings.station;
  if (settings.connection.empty()) return;
  m_pResultsDb = std::make_unique<CResultsUploader>(GetLogFolder(), std::move(settings));
  m_pResultsDb->Start();
}

std::string CProgrammerDlg::GetResultsDbStatus() const {
  return m_pResultsDb ? ResultsDbStatusText(m_pResultsDb->GetStatus()) : std::string();
}

void CProgrammerDlg::SetRunObserver(RunObserver observer) {
  std::lock_guard<std::mutex> lock(m_runObserverMutex);
  m_runObserver = std::move(observer);
}

RunSettings CProgrammerDlg::TakeRunSettings(int family, int boardVersion) const {
  std::lock_guard<std::mutex> lock(m_settingsMutex);
  RunSettings run;
  run.family = family;
  run.boardVersion = boardVersion;
  run.rcpFile = GetRCPFile(family);
  run.vtcFile = GetVTCFile(family);
  run.ldrFile = GetLDRFile(family, boardVersion);
  if (family == kFamilyMV2) {
    run.fpgaFile = m_strFpgaFileMV2.Get();
    run.uimFile = m_strUimFileMV2.Get();
  } else {
    run.cpldFile = m_strCpldFileQZ6.Get();
    run.dspFile = m_strDspFileQZ6.Get();
  }
  run.leaveImages = m_bLeaveImages.load();
  run.permitLoaderOverwrite = m_bPermitLoaderOverwrite.load();
  run.preserveSerialNumber = m_bPreserveSerialNumber.load();
  return run;
}

std::string CProgrammerDlg::GetRCPFile(int family) const {
  return family == kFamilyMV2 ? m_strRcpFileMV2.Get() : m_strRcpFileQZ6.Get();
}

std::string CProgrammerDlg::GetVTCFile(int family) const {
  return family == kFamilyMV2 ? m_strVtcFileMV2.Get() : m_strVtcFileQZ6.Get();
}

std::string CProgrammerDlg::GetLDRFile(int family, int boardVersion) const {
  if (family != kFamilyMV2) return m_strLdrFileQZ6.Get();
  // Boards before 5.0 need the older loader when one is configured.
  if (boardVersion < 50) {
    std::string pre50 = m_strLdrPre50FileMV2.Get();
    if (!pre50.empty()) return pre50;
  }
  return m_strLdrFileMV2.Get();
}
