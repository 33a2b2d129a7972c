// vantorel: the desktop programming station on the machine's serial ports.
#include "desktop_app.h"

int main(int argc, char** argv) {
  vtgui::DesktopApp app(argc, argv);
  return app.Run();
}
