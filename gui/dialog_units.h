// Placement of controls given in dialog units, the way the dialog templates
// describe the windows: one horizontal unit is 1.5 pixels and one vertical
// unit 1.625 pixels for the 8-point dialog font at 96 dpi. Every view lays its
// controls out through these, so the windows keep the templates' proportions.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "app/geometry.h"

namespace vtgui {

// A template rectangle (x, y, width, height in dialog units) in pixels; each
// value is converted on its own, as the system maps dialog rectangles.
inline QRect DluRect(int x, int y, int width, int height) {
  return QRect(DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(width),
               DialogUnitsToPixelsY(height));
}

inline QSize DluSize(int width, int height) {
  return QSize(DialogUnitsToPixelsX(width), DialogUnitsToPixelsY(height));
}

inline QRect ToQRect(const Rect& r) { return QRect(r.x, r.y, r.width, r.height); }
inline QSize ToQSize(const Size& s) { return QSize(s.cx, s.cy); }

// The templates' font: 8 points of the platform's sans-serif face.
QFont DialogFont();

}  // namespace vtgui
