// Pixel geometry of the windows: the main window model computes where the
// port panels, the USB button and its prompt go; the front end only applies
// the rectangles. Dialog templates are given in dialog units, which the
// dialog font's size turns into pixels.
#pragma once

struct Size {
  int cx = 0;
  int cy = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int Bottom() const { return y + height; }
  int Right() const { return x + width; }
  bool operator==(const Rect&) const = default;
};

// Space a top-level window's frame takes around its client area: borders, the
// caption and the menu bar. The front end measures it.
struct FrameInsets {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// The dialog font's base units, in pixels: its average character width and
// its character height. The system sizes dialog templates from them, so the
// windows follow the font they are drawn in. The default is the 8-point
// dialog font at 96 dpi; a front end measures the font it actually uses.
struct DialogBaseUnits {
  int cx = 6;
  int cy = 13;
  bool operator==(const DialogBaseUnits&) const = default;
};

// units * base / divisor, rounded to the nearest pixel as the system does.
constexpr int ScaleDialogUnits(int units, int base, int divisor) {
  return (units * base + divisor / 2) / divisor;
}

// A horizontal dialog unit is a quarter of the average character width, a
// vertical one an eighth of the character height.
constexpr int DialogUnitsToPixelsX(int units, DialogBaseUnits base = {}) {
  return ScaleDialogUnits(units, base.cx, 4);
}
constexpr int DialogUnitsToPixelsY(int units, DialogBaseUnits base = {}) {
  return ScaleDialogUnits(units, base.cy, 8);
}
constexpr Size DialogUnitsToPixels(Size units, DialogBaseUnits base = {}) {
  return {DialogUnitsToPixelsX(units.cx, base), DialogUnitsToPixelsY(units.cy, base)};
}
