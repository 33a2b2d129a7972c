// vantorel-screenshots.exe: pictures of the Windows desktop for the
// documentation, made on the demonstration station. Both port panels are
// started and shown mid-transfer (win32-main-window.bmp), COM1's log window
// is opened (win32-log-window.bmp), and File > Setup... shows the "Files"
// sheet (win32-setup-sheet.bmp). Each picture is what the screen shows in
// the window's rectangle. tools/screenshots-win32 runs it and makes PNGs.
//
//   vantorel-screenshots.exe FOLDER
#include <cstdio>
#include <string>

#include "app/panel_menu.h"
#include "app/programmer_app.h"
#include "app/programmer_dlg.h"
#include "demo_station.h"
#include "desktop_app.h"
#include "app/comm_dialog.h"
#include "main_window.h"
#include "port_panel.h"
#include "resource_ids.h"
#include "setup_sheet.h"
#include "text.h"
#include "windows_api.h"

namespace {

using vtwin::MainWindow;

// Runs the message loop until done() holds or limitMs have passed.
bool PumpUntil(const std::function<bool()>& done, int limitMs) {
  const ULONGLONG limit = ::GetTickCount64() + static_cast<ULONGLONG>(limitMs);
  MSG message;
  while (!done()) {
    if (::GetTickCount64() > limit) return false;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message != WM_QUIT) vtwin::DesktopApp::Dispatch(message);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

// Lets every window paint, then copies the window's screen rectangle into a
// 24-bit BMP file.
bool Capture(HWND window, const std::string& path) {
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  PumpUntil([] { return false; }, 300);
  RECT rc{};
  ::GetWindowRect(window, &rc);
  const int width = rc.right - rc.left;
  const int height = rc.bottom - rc.top;
  const HDC screen = ::GetDC(nullptr);
  const HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, rc.left, rc.top, SRCCOPY);
  ::GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  const DWORD size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  header.bfSize = header.bfOffBits + size;
  bool ok = false;
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    ok = std::fwrite(&header, sizeof header, 1, file) == 1 &&
         std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file) == 1 &&
         std::fwrite(bits, 1, size, file) == size;
    ok = std::fclose(file) == 0 && ok;
  }
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return ok;
}

int Progress(HWND panel) {
  return static_cast<int>(::SendMessageW(::GetDlgItem(panel, VT_IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vantorel-screenshots FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  vtwin::DesktopApp app;
  vtwin::DemoOptions options;
  options.reactionMs = 200;
  options.firmwareBytes = 32 * 1024;
  vtwin::DemoStation station(options);
  std::string error;
  if (!station.Prepare(error)) {
    std::fprintf(stderr, "vantorel-screenshots: %s\n", error.c_str());
    return 1;
  }
  CProgrammerApp programmerApp;
  programmerApp.InitInstance();
  int failures = 0;
  {
    CProgrammerDlg model;
    model.m_pPortList = programmerApp.m_pPortList.get();
    MainWindow window(model, &app.Sink());
    station.Attach(window);
    if (!window.Create()) return 1;
    ::ShowWindow(window.Handle(), SW_SHOW);
    const HWND com1 = window.Panels().at(0)->Handle();
    const HWND com2 = window.Panels().at(1)->Handle();
    // Both scanners programmed side by side, pictured mid-transfer.
    for (HWND panel : {com1, com2}) {
      ::SendMessageW(panel, WM_COMMAND, MAKEWPARAM(VT_IDC_PORT_BUTTON, BN_CLICKED),
                     reinterpret_cast<LPARAM>(::GetDlgItem(panel, VT_IDC_PORT_BUTTON)));
    }
    PumpUntil([&] { return Progress(com1) > 300 && Progress(com2) > 300; }, 120000);
    if (!Capture(window.Handle(), folder + "\\win32-main-window.bmp")) ++failures;

    ::SendMessageW(com1, WM_COMMAND, ID_PANEL_LOG_WINDOW, 0);
    if (const HWND log = window.Panels().at(0)->LogWindowHandle()) {
      if (!Capture(log, folder + "\\win32-log-window.bmp")) ++failures;
      ::SendMessageW(com1, WM_COMMAND, ID_PANEL_LOG_WINDOW, 0);
    } else {
      ++failures;
    }

    window.SetSheetPreparer([&](vtwin::SetupSheet& sheet) {
      sheet.SetOpened([&](vtwin::SetupSheet& open) {
        if (!Capture(open.Sheet(), folder + "\\win32-setup-sheet.bmp")) ++failures;
        ::PostMessageW(open.Sheet(), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
      });
    });
    window.RunMenuCommand(ID_FILE_SETUP);
    window.ShutDown();
  }
  programmerApp.ExitInstance();
  return failures == 0 ? 0 : 1;
}
