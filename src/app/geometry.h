// Pixel geometry of the windows: the main window model computes where the
// port panels, the USB button and its prompt go; the front end only applies
// the rectangles. Dialog templates are given in dialog units; at 96 dpi with
// the 8-point dialog font one horizontal unit is 1.5 px and one vertical unit
// 1.625 px.
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

// Dialog units to pixels at 96 dpi, rounded to the nearest pixel.
constexpr int DialogUnitsToPixelsX(int units) { return (units * 3 + 1) / 2; }
constexpr int DialogUnitsToPixelsY(int units) { return (units * 13 + 4) / 8; }
constexpr Size DialogUnitsToPixels(Size units) {
  return {DialogUnitsToPixelsX(units.cx), DialogUnitsToPixelsY(units.cy)};
}
