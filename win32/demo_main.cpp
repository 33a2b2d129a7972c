// vantorel-demo.exe: the Windows desktop station with simulated scanners
// attached (see demo_station.h). Press the USB button and the port buttons;
// the simulated operators do the rest.
#include <string>

#include "demo_station.h"
#include "desktop_app.h"
#include "main_window.h"
#include "text.h"
#include "windows_api.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  vtwin::DesktopApp app;
  vtwin::DemoStation station{vtwin::DemoOptions{}};
  std::string error;
  if (!station.Prepare(error)) {
    ::MessageBoxW(nullptr, vtwin::Widen(error).c_str(), L"vantorel-demo", MB_OK | MB_ICONERROR);
    return 1;
  }
  return app.Run([&station](vtwin::MainWindow& window) { station.Attach(window); });
}
