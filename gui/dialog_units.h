// Placement of controls given in dialog units, the way the dialog templates
// describe the windows. The units come from the dialog font the program
// actually draws in, measured as the system measures a dialog's font, so a
// text that fits its control in the templates' font fits it in this one too.
// Every view lays its controls out through these.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "app/geometry.h"

namespace vtgui {

// The templates' font: 8 points of the platform's sans-serif face.
QFont DialogFont();

// The base units of DialogFont() on the screen: the average width of the
// 52 letters, rounded, and the font's height.
DialogBaseUnits DialogBase();

inline int DluX(int units) { return DialogUnitsToPixelsX(units, DialogBase()); }
inline int DluY(int units) { return DialogUnitsToPixelsY(units, DialogBase()); }

// A template rectangle (x, y, width, height in dialog units) in pixels; each
// value is converted on its own, as the system maps dialog rectangles.
inline QRect DluRect(int x, int y, int width, int height) {
  const DialogBaseUnits base = DialogBase();
  return QRect(DialogUnitsToPixelsX(x, base), DialogUnitsToPixelsY(y, base),
               DialogUnitsToPixelsX(width, base), DialogUnitsToPixelsY(height, base));
}

inline QSize DluSize(int width, int height) {
  const DialogBaseUnits base = DialogBase();
  return QSize(DialogUnitsToPixelsX(width, base), DialogUnitsToPixelsY(height, base));
}

inline QRect ToQRect(const Rect& r) { return QRect(r.x, r.y, r.width, r.height); }
inline QSize ToQSize(const Size& s) { return QSize(s.cx, s.cy); }

}  // namespace vtgui
