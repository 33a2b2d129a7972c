// CProgrammerDlg: the main window's model. It is the one holder of the
// settings (loaded from ZANDRIC.INI at start-up, saved at exit). As the host
// of its panels it gives each press of a port button the programming routine,
// and each run a copy of the settings for the family of the scanner that
// run's panel identified; no port reads the settings live. The window side
// (panel grid, USB row, menus) is kept as plain values that a front end
// shows: the front end calls OnInitDialog, the commands and the USB poll tick
// on its window thread and, after each, applies the rectangles and states it
// reads here.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/geometry.h"
#include "app/menu_item.h"
#include "app/panel_host.h"
#include "app/station_settings.h"
#include "link/scanner_family.h"
#include "platform/sync_string.h"
#include "update/product_title.h"
#include "update/run_record.h"
#include "update/run_settings.h"

class CCommDialog;
class CPortList;
class CFileOpenPropSheet;
class CResultsUploader;
struct COMM_SPORT;

// String resource 101: the system menu's About item, command id 16.
inline constexpr const char* kAboutMenuText = "&About Vantorel...";
constexpr int IDM_ABOUTBOX = 16;

// Main window controls and menu 130 commands.
constexpr int IDC_USB_BUTTON = 1041;
constexpr int IDC_USB_PROMPT = 1042;
constexpr int ID_FILE_SETUP = 57601;
constexpr int ID_FILE_EXIT = 32772;
constexpr int ID_HELP_ABOUT = 32781;

// The USB row's prompt line in its Waiting and Searching states.
inline constexpr const char* kUsbPromptWaiting =
    "Turn off all USB-attached scanners and then press USB button";
inline constexpr const char* kUsbPromptSearching = "Turn USB_attached scanner on ...";

// The About box (template 100).
inline constexpr const char* kAboutCaption = "About ZEV QZ600/QZ700 Vantorel";
inline constexpr const char* kAboutVersion = "ZEV QZ600/QZ700 Vantorel  Version 4.1.1.2";
inline constexpr const char* kAboutNotice =
    "Firmware programming station for QZ500, QZ600 and MV2 scanners";

// Sizes of the templates the layout is computed from, in dialog units.
constexpr Size kPanelTemplateUnits{316, 30};     // template 129, a port panel
constexpr Size kUsbButtonUnits{41, 25};          // control 1041
constexpr Size kMainTemplateUnits{423, 199};     // template 102, replaced at start-up

// The USB timer's id and period.
constexpr int kUsbTimerId = 100;
constexpr int kUsbTimerPeriodMs = 1000;

// Number of port panels created (start-up and USB together), and that number
// right after the start-up panels were made (0: the placeholder is shown).
extern int g_nPortCount;
extern int g_nStartPortCount;

class CProgrammerDlg : public CPanelHost, public CRunSettingsSource, public CStationSettings {
 public:
  CProgrammerDlg();
  virtual ~CProgrammerDlg();

  // ---- host of the panels ----
  // sendProc, with this window as the source of the run's settings and the
  // keeper of its record.
  ProgrammingRoutine GetProgrammingRoutine(CCommDialog& panel) override;
  // The log folder, or the program folder when LogPath is empty (as for the
  // result record): never the root of the file system.
  std::string GetLogFolder() const override;
  // The files of the family (the [MV2] or the [QZ6] set), the loader by board
  // version, and the [Common] options, taken together so that a Setup that
  // ends meanwhile is either wholly in the copy or not at all.
  RunSettings TakeRunSettings(ScannerFamily family, int boardVersion) const override;

  // ---- result record ----
  // Called on a run's programming thread once its outcome is known: appends
  // the run's line to results.csv in the log folder (LogPath, or the program
  // folder when it is empty), then tells the run observer.
  void RecordRun(CCommDialog* panel, const RunRecord& record);
  // A front end's view of every recorded run (the command-line summary);
  // called on the run's thread. Empty: none.
  using RunObserver = std::function<void(CCommDialog* panel, const RunRecord& record)>;
  void SetRunObserver(RunObserver observer);

  // ---- plant results database ([Results] of ZANDRIC.INI) ----
  // Reads [Results] and, when a Connection is set, starts sending the
  // station's runs in the background (first what an earlier session left).
  // OnInitDialog runs it after LoadSettings; a front end without the window
  // (vantorel-cli) runs it itself. Runs once.
  void StartResultsDb();
  // The database state for the status area: "Results database: connected",
  // "... 3 runs pending, last error: ..."; empty when none is configured.
  std::string GetResultsDbStatus() const;
  // The sender, or null when no database is configured (tests drive it).
  CResultsUploader* GetResultsUploader() const { return m_pResultsDb.get(); }
  // The station's name in the result record (StationName=, or the computer's name).
  std::string m_strStationName;

  // ---- window side (window thread only) ----

  // The application's USB port list; set before OnInitDialog.
  CPortList* m_pPortList = nullptr;

  // The initialisation: program folder from the current directory, port
  // table cleared, pre-load values, settings loaded, start-up panels created
  // and laid out, USB row placed, File menu trimmed.
  void OnInitDialog();
  // One panel per RS-232 port COM1..COM20 that opens and is not a USB port
  // (or the "COM NONE" placeholder), in one or two columns.
  void CreatePortPanels();
  // Places the USB button and its prompt 5 pixels below the panel area.
  void PlaceUsbRow();
  // The main window's frame as the front end measured it on screen: the
  // window is sized so that its client area holds the panels side by side
  // and, below them, the USB row; the USB row is placed again.
  void SetFrame(const FrameInsets& frame);
  // Button 1041: from Waiting to Searching; starts the USB timer.
  void OnUsbButton();
  // The USB timer's tick: rescans and adds a panel for every new USB port.
  // Returns the number of panels added. A tick that arrives while one runs
  // (a box keeps the message loop going) is skipped.
  int OnTimer();
  // Adds the panel of a new USB port in its table row, below all others;
  // false when the name maps to no row or the row already has a panel.
  bool AddUsbPanel(const COMM_SPORT& record);
  // Closing: g_bClosing set, settings saved, every panel destroyed, timer
  // stopped. Runs once; later calls do nothing.
  void DestroyWindow();

  // File > Setup... and the panel's Setup...: copies the settings into a
  // sheet, lets runModal show it (true for OK), and copies the pages back on
  // OK. An invalid baud member is replaced by 115200 when the sheet opens,
  // whatever the operator then does.
  void RunSetup(const std::function<bool(CFileOpenPropSheet&)>& runModal);
  // The two halves of RunSetup.
  void CopySettingsToSheet(CFileOpenPropSheet& sheet);
  void CopySheetToSettings(const CFileOpenPropSheet& sheet);

  // Menu 130 as it stands after the initialisation.
  std::vector<MenuItem> GetFileMenu() const;
  std::vector<MenuItem> GetHelpMenu() const;

  // ---- geometry inputs, in pixels (set before OnInitDialog) ----
  // Outer size of a port panel (template 129), in the dialog font in use.
  Size m_szPanel = DialogUnitsToPixels(kPanelTemplateUnits);
  // Size of the USB button (control 1041).
  Size m_szUsbButton = DialogUnitsToPixels(kUsbButtonUnits);
  // The main window's frame around its client area.
  FrameInsets m_frame;

  // ---- window state, read by the front end ----
  // Where one panel stands (client coordinates) and which row it belongs to.
  struct PanelSlot {
    std::unique_ptr<CCommDialog> panel;
    int row = -1;              // 0..19; -1 for the placeholder
    bool placeholder = false;  // the "COM NONE" panel
    Rect rect;
  };
  // Every panel in creation order; the model owns them.
  const std::vector<PanelSlot>& GetPanels() const { return m_panels; }
  Rect m_rcWindow;     // outer rectangle, screen coordinates
  Rect m_rcUsbButton;  // client coordinates
  Rect m_rcUsbPrompt;
  int m_nPanelAreaHeight = 0;
  std::string m_strUsbPrompt;
  bool m_bUsbSearchPending = false;
  int m_nUsbTimerId = -1;  // kUsbTimerId while the USB timer runs
  bool m_bUsbButtonEnabled = true;
  bool m_bUsbRowVisible = true;  // button and prompt; hidden for good once a USB panel exists
  bool m_bSetupMenuPresent = true;
  bool m_bDestroyed = false;

 private:
  // The client area's width for the outer window width.
  int ClientWidth() const { return m_rcWindow.width - m_frame.left - m_frame.right; }
  void DestroyPanel(PanelSlot& slot);
  // Sizes m_rcWindow from the grid, the frame and what the client area holds.
  void FitWindow();

  std::vector<PanelSlot> m_panels;
  bool m_bInTimer = false;
  std::mutex m_runObserverMutex;  // guards m_runObserver
  RunObserver m_runObserver;
  std::unique_ptr<CResultsUploader> m_pResultsDb;
  int m_nColumns = 1;      // panel columns
  int m_nGridHeight = 0;   // the window height the pitches give
};

// 1 when the platform's file search finds the path; 0 otherwise, after the box
// "File %s not found" when report is non-zero.
int FileExists(const std::string& path, int report);
// The file search's pattern: '*' any run of characters, '?' any one.
bool WildcardMatch(const char* pattern, const char* name);
// 1 for 115200, 57600, 38400 and 28800, else 0.
int IsValidBaudRate(int rate);

// The decimal number at the start of a text (blanks and a sign allowed before
// the digits, as atoi takes them); 0 when it starts with no digit. Values
// beyond the int range are held at its ends.
int LeadingNumber(const std::string& text);


// Installs the [Ports] section of the configuration file at iniPath as the
// place where port names lead (COMn and ZEVn to device paths) and as the
// entries the device map lists. Only POSIX backends use it. LoadSettings runs
// it; the application start-up runs it before the first port scan.
void InstallPortsSection(const std::string& iniPath);
