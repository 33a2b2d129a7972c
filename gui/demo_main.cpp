// vantorel-demo: the desktop station with simulated scanners attached (see
// demo_station.h). Press the USB button and the port buttons; the simulated
// operators do the rest.
#include <cstdio>
#include <string>

#include "demo_station.h"
#include "desktop_app.h"

int main(int argc, char** argv) {
  vtgui::DesktopApp app(argc, argv);
  vtgui::DemoStation station{vtgui::DemoOptions{}};
  std::string error;
  if (!station.Prepare(error)) {
    std::fprintf(stderr, "vantorel-demo: %s\n", error.c_str());
    return 1;
  }
  std::printf(
      "Demo station in %s: an MV2 on COM1, a QZ600 on COM2, another MV2 on the USB port %s.\n"
      "Press the port buttons to program; press USB to bring the USB scanner in.\n",
      station.Folder().c_str(), vtgui::DemoStation::kUsbPort);
  std::fflush(stdout);
  return app.Run([&station](vtgui::MainWindowView& view) { station.Attach(view); });
}
