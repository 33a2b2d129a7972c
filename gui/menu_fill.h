// A model's menu list as Qt actions: the main window's File and Help menus
// and a port panel's context menu are filled the same way. Each action keeps
// its command id in its data and its state from the list; when onCommand is
// given, choosing the action calls it with the id.
#pragma once

#include <functional>
#include <vector>

#include "app/menu_item.h"

class QMenu;

namespace vtgui {

void AddMenuItems(QMenu* menu, const std::vector<MenuItem>& items,
                  const std::function<void(int commandId)>& onCommand = {});

}  // namespace vtgui
