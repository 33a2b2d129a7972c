// vantorel.exe: the desktop programming station on the machine's serial ports
// (COMn, and the USB driver's ports once the USB button has been pressed).
// It runs in the current folder, where ZANDRIC.INI is read and written.
#include "desktop_app.h"
#include "windows_api.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  vtwin::DesktopApp app;
  return app.Run();
}
