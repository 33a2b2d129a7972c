#include "dialog_units.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

namespace vtgui {

QFont DialogFont() {
  // The templates were drawn for an 8-point sans-serif face; the first of
  // these that the machine has keeps their texts inside their controls.
  static const QStringList kFaces = {"MS Sans Serif", "Microsoft Sans Serif", "Tahoma",
                                     "Liberation Sans", "DejaVu Sans"};
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
