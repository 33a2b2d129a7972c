// The main window's window side: start-up, the panel grid, the USB row and
// its one-second poll, menus, and the orderly shutdown.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/log_win.h"
#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "app/results_db.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"
#include "ports/comm_sport.h"
#include "ports/port_list.h"
#include "platform/path_text.h"

int g_nPortCount = 0;
int g_nStartPortCount = 0;

namespace {

constexpr char kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);

// Start-up panels: up to this many stand in one column.
constexpr int kMaxOneColumnPanels = 8;

// Space between the panels and the USB row, and below the row.
constexpr int kUsbRowGap = 5;

}  // namespace

void CProgrammerDlg::OnInitDialog() {
  // The program folder is where the operator started the program, not where
  // the executable lies.
  std::error_code ec;
  std::string dir = platform::TextFromPath(std::filesystem::current_path(ec));
  // One trailing separator goes: the root "/" becomes "", so that the INI
  // file is "/ZANDRIC.INI" (and "C:\" becomes "C:").
  if (!dir.empty() && dir.back() == kSeparator) dir.pop_back();
  if (ec || dir.size() >= sizeof m_szAppDir) {
    // A folder name that does not fit would be cut into another folder's
    // name; "." names the same current directory.
    dir = ".";
  }
  std::snprintf(m_szAppDir, sizeof m_szAppDir, "%s", dir.c_str());

  for (COMM_SPORT& row : g_portTable) row = COMM_SPORT{};
  g_nPortCount = 0;
  g_nStartPortCount = 0;
  SetPreloadDefaults();
  g_bClosing = false;

  LoadSettings();
  StartResultsDb();
  CreatePortPanels();
  PlaceUsbRow();
  m_strUsbPrompt = kUsbPromptWaiting;
  m_bUsbButtonEnabled = true;
  m_bUsbRowVisible = true;
  m_bSetupMenuPresent = m_bIncludeSetupMenu.load();
}

void CProgrammerDlg::CreatePortPanels() {
  for (int n = 1; n <= kPortTableRows; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "COM%i", n);
    int error = 0;
    platform::PortPtr probe = platform::OpenSerialPort(name, error);
    if (!probe) continue;
    probe->Close();
    probe.reset();

    COMM_SPORT& row = g_portTable[n - 1];
    row.bUsb = m_pPortList != nullptr && m_pPortList->IsUsbPort(name) ? 1 : 0;
    if (row.bUsb) continue;  // its panel comes from the USB search

    row.bInUse = 1;
    PanelSlot slot;
    slot.row = n - 1;
    slot.panel = std::make_unique<CCommDialog>(static_cast<uint16_t>(n), name, this);
    row.pPanel = slot.panel.get();
    m_panels.push_back(std::move(slot));
    ++g_nPortCount;
  }
  g_nStartPortCount = g_nPortCount;

  if (g_nPortCount == 0) {
    ShowNotice(kProductTitle, "No comm port available!");
    PanelSlot slot;
    slot.placeholder = true;
    slot.panel = std::make_unique<CCommDialog>(1, "COM NONE", this);
    slot.rect = {0, 0, m_szPanel.cx, m_szPanel.cy};
    g_portTable[0].pPanel = slot.panel.get();  // row 0 stays out of use
    m_panels.push_back(std::move(slot));
    m_nPanelAreaHeight = m_szPanel.cy + 1;
  }

  // Every panel has the size of template 129; the pitch leaves one pixel
  // between neighbours. Two pitches below the panels hold the frame and the
  // USB row, in two columns as in one: one pitch alone would leave the USB
  // button outside the window, and USB scanners out of the operator's reach.
  const int w = m_szPanel.cx + 1;
  const int h = m_szPanel.cy + 1;
  int columns = 1;
  int perColumn = std::max(g_nPortCount, 1);
  if (g_nPortCount > kMaxOneColumnPanels) {
    columns = 2;
    perColumn = (g_nPortCount + 1) / 2;
  }
  m_rcWindow = {0, 0, 0, 0};
  m_nColumns = columns;
  m_nGridHeight = h * (perColumn + 2);

  int placed = 0;
  for (PanelSlot& slot : m_panels) {
    if (slot.placeholder) continue;
    int column = placed < perColumn ? 0 : 1;
    int k = column == 0 ? placed : placed - perColumn;
    slot.rect = {column * w + 1, k * h + 1, w - 1, h - 1};
    m_nPanelAreaHeight = std::max(m_nPanelAreaHeight, (k + 1) * h);
    ++placed;
  }
  FitWindow();
}

void CProgrammerDlg::FitWindow() {
  // The pitches give the window's size; the frame the front end measured is
  // added around the panels' width, and the height never leaves the lowest
  // panel or the USB row under the frame.
  const int w = m_szPanel.cx + 1;
  int content = m_nPanelAreaHeight;
  if (m_bUsbRowVisible) content += kUsbRowGap + m_szUsbButton.cy + kUsbRowGap;
  m_rcWindow.width = w * m_nColumns + m_frame.left + m_frame.right;
  m_rcWindow.height = std::max(m_nGridHeight, m_frame.top + m_frame.bottom + content);
}

void CProgrammerDlg::SetFrame(const FrameInsets& frame) {
  m_frame = frame;
  FitWindow();
  PlaceUsbRow();
}

void CProgrammerDlg::PlaceUsbRow() {
  const int bw = m_szUsbButton.cx;
  const int bh = m_szUsbButton.cy;
  m_rcUsbButton = {1, m_nPanelAreaHeight + kUsbRowGap, bw, bh};
  m_rcUsbPrompt = {bw + 6, m_nPanelAreaHeight + kUsbRowGap, (ClientWidth() - 5) - (bw + 6), bh};
}

void CProgrammerDlg::OnUsbButton() {
  if (!m_bUsbButtonEnabled || !m_bUsbRowVisible || m_bDestroyed) return;
  m_bUsbButtonEnabled = false;
  m_strUsbPrompt = kUsbPromptSearching;
  m_bUsbSearchPending = true;
  if (m_pPortList != nullptr) m_pPortList->Refresh();
  m_nUsbTimerId = kUsbTimerId;
}

int CProgrammerDlg::OnTimer() {
  if (m_bInTimer || m_bDestroyed || m_pPortList == nullptr || m_nUsbTimerId < 0) return 0;
  m_bInTimer = true;
  int added = 0;
  m_pPortList->Refresh();
  // Walk a copy: adding a panel may show a box, and nothing may change the
  // list under the walk while the box keeps the message loop going.
  std::vector<COMM_SPORT> fresh;
  for (const auto& record : m_pPortList->m_new) fresh.push_back(*record);
  for (const COMM_SPORT& record : fresh) {
    if (AddUsbPanel(record)) ++added;
    // Known from now on, panel or not: the port is never offered again.
    m_pPortList->MarkKnown(record);
  }
  m_bInTimer = false;
  return added;
}

bool CProgrammerDlg::AddUsbPanel(const COMM_SPORT& record) {
  int rowIndex = -1;
  for (int i = 0; i < kPortTableRows && rowIndex < 0; ++i) {
    char com[16];
    char zev[16];
    std::snprintf(com, sizeof com, "COM%i", i + 1);
    std::snprintf(zev, sizeof zev, "ZEV%i", i);
    if (SamePortName(record.szPortName, com) || SamePortName(record.szPortName, zev)) {
      rowIndex = i;
    }
  }
  if (rowIndex < 0) return false;  // above COM20 or ZEV19
  COMM_SPORT& row = g_portTable[rowIndex];
  // COM4 and ZEV3 share a row: a second panel there would be neither saved
  // nor closed at exit, so the later port gets none.
  if (row.bInUse) return false;

  if (m_bUsbSearchPending) {
    m_bUsbSearchPending = false;
    m_bUsbRowVisible = false;
  }
  row.bInUse = 1;
  row.bUsb = 1;
  ++g_nPortCount;

  char devicePath[16];
  std::snprintf(devicePath, sizeof devicePath, "\\\\.\\%s", record.szPortName);
  PanelSlot slot;
  slot.row = rowIndex;
  slot.panel = std::make_unique<CCommDialog>(static_cast<uint16_t>(rowIndex + 1), devicePath, this);
  row.pPanel = slot.panel.get();

  const int w = m_szPanel.cx + 1;
  const int h = m_szPanel.cy + 1;
  int columns = 1;
  int rows = g_nPortCount + 1 + (g_nStartPortCount == 0 ? 1 : 0);
  if (g_nPortCount > kMaxOneColumnPanels) {
    columns = 2;
    rows = (g_nPortCount + 1) / 2 + 1;
  }
  slot.rect = {1, m_nPanelAreaHeight, w - 1, h - 1};
  m_nPanelAreaHeight += h;
  m_panels.push_back(std::move(slot));
  // USB panels stack in column 0 below everything else; the window grows at
  // least to show the newest one, however the columns are filled.
  m_nColumns = columns;
  m_nGridHeight = std::max(h * rows, m_nPanelAreaHeight + h);
  FitWindow();
  return true;
}

void CProgrammerDlg::DestroyPanel(PanelSlot& slot) {
  if (!slot.panel) return;
  CloseLogWindow(slot.panel.get());
  if (slot.row >= 0 && g_portTable[slot.row].pPanel == slot.panel.get()) {
    g_portTable[slot.row].pPanel = nullptr;
  }
  if (slot.placeholder && g_portTable[0].pPanel == slot.panel.get()) g_portTable[0].pPanel = nullptr;
  slot.panel.reset();
}

void CProgrammerDlg::DestroyWindow() {
  if (m_bDestroyed) return;
  m_bDestroyed = true;
  g_bClosing = true;
  SaveSettings();
  // Row order, as the panels stand in the table; each teardown ends its
  // port's threads before the next begins.
  for (int i = 0; i < kPortTableRows; ++i) {
    if (!g_portTable[i].bInUse) continue;
    for (PanelSlot& slot : m_panels) {
      if (slot.row == i && !slot.placeholder) DestroyPanel(slot);
    }
  }
  for (PanelSlot& slot : m_panels) DestroyPanel(slot);  // the placeholder
  m_panels.clear();
  m_nUsbTimerId = -1;
  // Every run has ended: one last attempt sends what they left.
  if (m_pResultsDb) m_pResultsDb->Stop(true);
}

std::vector<MenuItem> CProgrammerDlg::GetFileMenu() const {
  std::vector<MenuItem> items;
  if (m_bSetupMenuPresent) {
    items.push_back({"&Setup...", ID_FILE_SETUP});
    items.push_back({"", 0, true});
  }
  items.push_back({"E&xit", ID_FILE_EXIT});
  return items;
}

std::vector<MenuItem> CProgrammerDlg::GetHelpMenu() const {
  return {{"&About Vantorel", ID_HELP_ABOUT}};
}
