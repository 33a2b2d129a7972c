// The port panel's context menu (menu 139) and its commands, on the window
// thread: what the front end shows when the operator right-clicks a panel,
// and what each command does to the panel model.
#pragma once

#include <functional>
#include <vector>

#include "app/menu_item.h"

class CCommDialog;
class CFileOpenPropSheet;

constexpr int ID_PANEL_SETUP = 32778;
constexpr int ID_PANEL_RESET = 32780;
constexpr int ID_PANEL_LOG_WINDOW = 32782;

// "Setup..." (always grayed), "Log window" (enabled while the port logs),
// "Reset" (enabled while the panel is busy), with separators between them:
// positions 0, 2 and 4 hold the commands. The states are read when the menu
// opens.
std::vector<MenuItem> GetPanelMenu(const CCommDialog& panel);

// Runs a command of the menu: Setup... runs the Setup procedure on the main
// window's settings through runSetupSheet, Log window toggles the log view,
// Reset resets the port. Other ids do nothing.
void OnPanelCommand(CCommDialog& panel, int commandId,
                    const std::function<bool(CFileOpenPropSheet&)>& runSetupSheet);
