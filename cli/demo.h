// The demonstration station (vantorel-cli --demo): sample firmware for both
// platforms in a fresh folder, three simulated scanners (a QZ600 on COM1, an
// MV2 on COM2, a QZ500 on COM3) on simulated lines paced at the line rate, and
// a simulated operator per scanner who works its power switch when the panel
// asks. All three port buttons are pressed at once; the run is the program's
// own, from the settings to the closing key.
#pragma once

#include <cstdint>
#include <string>

#include "cli_app.h"

namespace vtcli {

struct DemoOptions {
  // Line rate of the simulated lines in bit/s; 0 sends as fast as the threads go.
  uint32_t lineBitsPerSecond = 57600;
  // Process time scale for the duration of the demo (waits, flash delays).
  double timeScale = 1.0;
  // Only one scanner is switched on at a time. The main window keeps one
  // family value for all ports (the scanner identified last), so scanners of
  // different families programmed side by side take each other's steps.
  bool oneAtATime = true;
  // Real milliseconds an operator takes to react to a request on the panel.
  int reactionMs = 300;
  // Real seconds after which every port still running is reset.
  int timeLimitSeconds = 300;
  // The station folder; empty: a fresh folder under the system's temporary
  // folder, removed at the end.
  std::string folder;
};

int RunDemo(const DemoOptions& options, const Environment& env);

}  // namespace vtcli
