#include "app/programmer_dlg.h"

#include "app/ini_file.h"
#include "app/result_log.h"
#include "app/comm_dialog.h"
#include "app/results_db.h"
#include "app/settings_table.h"
#include "update/send_proc.h"

CProgrammerDlg::CProgrammerDlg() = default;

// A model destroyed without DestroyWindow (tests, a front end that failed to
// start) still ends its panels' connections, but saves nothing.
CProgrammerDlg::~CProgrammerDlg() {
  for (PanelSlot& slot : m_panels) DestroyPanel(slot);
}

// The options take what a missing key reads as (n/y/n/n); the rates are the
// pre-load 115200, not the file's default; every path is empty.
void CStationSettings::SetPreloadDefaults() {
  for (const SettingKey& setting : SettingKeys()) {
    if (setting.option != nullptr) this->*setting.option = !EqualsNoCase(setting.defaultText, "n");
    if (setting.rate != nullptr) this->*setting.rate = 115200;
    if (setting.text != nullptr) (this->*setting.text).Set("");
  }
}

namespace {

// Where a panel's run hands its record: the main window, told which panel
// the run was on.
class PanelRecorder final : public CRunRecorder {
 public:
  PanelRecorder(CProgrammerDlg& dlg, CCommDialog& panel) : dlg_(dlg), panel_(panel) {}
  void RecordRun(const RunRecord& record) override { dlg_.RecordRun(&panel_, record); }

 private:
  CProgrammerDlg& dlg_;
  CCommDialog& panel_;
};

}  // namespace

ProgrammingRoutine CProgrammerDlg::GetProgrammingRoutine(CCommDialog& panel) {
  // The main window outlives its panels and so every run of theirs.
  return [this, &panel](PortSession& session, RunReporter& reporter, const ScannerIdentity& known) {
    PanelRecorder recorder(*this, panel);
    return sendProc(session, reporter, known, *this, &recorder);
  };
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

RunSettings CProgrammerDlg::TakeRunSettings(ScannerFamily family, int boardVersion) const {
  std::lock_guard<std::mutex> lock(m_settingsMutex);
  RunSettings run;
  run.family = family;
  run.boardVersion = boardVersion;
  run.rcpFile = GetRCPFile(family);
  run.vtcFile = GetVTCFile(family);
  run.ldrFile = GetLDRFile(family, boardVersion);
  if (FamilyRow(family).secondGeneration) {
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

std::string CStationSettings::GetRCPFile(ScannerFamily family) const {
  return FamilyRow(family).secondGeneration ? m_strRcpFileMV2.Get() : m_strRcpFileQZ6.Get();
}

std::string CStationSettings::GetVTCFile(ScannerFamily family) const {
  return FamilyRow(family).secondGeneration ? m_strVtcFileMV2.Get() : m_strVtcFileQZ6.Get();
}

std::string CStationSettings::GetLDRFile(ScannerFamily family, int boardVersion) const {
  if (!FamilyRow(family).secondGeneration) return m_strLdrFileQZ6.Get();
  // Boards before 5.0 need the older loader when one is configured.
  if (boardVersion < 50) {
    std::string pre50 = m_strLdrPre50FileMV2.Get();
    if (!pre50.empty()) return pre50;
  }
  return m_strLdrFileMV2.Get();
}
