#include "app/panel_menu.h"

#include "app/log_win.h"
#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"

std::vector<MenuItem> GetPanelMenu(const CCommDialog& panel) {
  return {
      {"Setup...", ID_PANEL_SETUP, false, false},
      {"", 0, true, true},
      {"Log window", ID_PANEL_LOG_WINDOW, false, panel.m_session.m_bLogEnabled.load()},
      {"", 0, true, true},
      {"Reset", ID_PANEL_RESET, false, panel.m_bBusy.load()},
  };
}

void OnPanelCommand(CCommDialog& panel, int commandId,
                    const std::function<bool(CFileOpenPropSheet&)>& runSetupSheet) {
  switch (commandId) {
    case ID_PANEL_SETUP:
      // The panel knows its main window only as its host.
      if (auto* main = dynamic_cast<CProgrammerDlg*>(panel.m_pMainDlg)) main->RunSetup(runSetupSheet);
      break;
    case ID_PANEL_LOG_WINDOW:
      ToggleLogWindow(&panel);
      break;
    case ID_PANEL_RESET:
      panel.Reset();
      break;
    default:
      break;
  }
}
