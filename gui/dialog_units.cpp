#include "dialog_units.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

namespace vtgui {

QFont DialogFont() {
  // The templates were drawn for an 8-point sans-serif face; the first of
  // these that the machine has keeps their texts inside their controls.
  // DejaVu Sans comes before Liberation Sans: Liberation's capitals are wide
  // for its average letter, so a port button's "USB COM20" would not fit the
  // dialog units it gives (wine brings Liberation along on a Linux station).
  static const QStringList kFaces = {"MS Sans Serif", "Microsoft Sans Serif", "Tahoma",
                                     "DejaVu Sans", "Liberation Sans"};
  QFont font = QApplication::font();
  const QStringList installed = QFontDatabase::families();
  for (const QString& face : kFaces) {
    if (installed.contains(face, Qt::CaseInsensitive)) {
      font.setFamily(face);
      break;
    }
  }
  font.setPointSize(8);
  return font;
}

DialogBaseUnits DialogBase() {
  const QFontMetrics metrics(DialogFont());
  const int letters =
      metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return DialogBaseUnits{(letters / 26 + 1) / 2, metrics.height()};
}

}  // namespace vtgui
