// The demonstration station (vantorel-cli --demo): sample firmware for both
// platforms in a fresh folder, three simulated scanners (a QZ600 on COM1, an
// MV2 on COM2, a QZ500 on COM3) on simulated lines paced at the line rate, and
// a simulated operator per scanner who works its power switch when the panel
// asks. All three port buttons are pressed at once and the QZ600 and the MV2
// are programmed side by side; the QZ500 reads the same first-generation
// settings as the QZ600 but takes another RCP image, so its operator waits
// until the QZ600 is done and selects that image first. The run is the
// program's own, from the settings to the closing key.
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
