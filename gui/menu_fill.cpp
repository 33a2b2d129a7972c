#include "menu_fill.h"

#include <QAction>
#include <QMenu>

namespace vtgui {

void AddMenuItems(QMenu* menu, const std::vector<MenuItem>& items,
                  const std::function<void(int commandId)>& onCommand) {
  for (const MenuItem& item : items) {
    if (item.separator) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(QString::fromLocal8Bit(item.text));
    action->setData(item.id);
    action->setEnabled(item.enabled);
    if (onCommand) {
      const int id = item.id;
      QObject::connect(action, &QAction::triggered, menu, [onCommand, id] { onCommand(id); });
    }
  }
}

}  // namespace vtgui
