// The Win32 desktop under test: the demonstration station's simulated bench
// (scanners on sim lines, sample firmware, ZANDRIC.INI in a fresh folder),
// the application object, the main window's model and its window, on the
// test's thread, which is the window thread. The test drives the windows by
// messages and pumps the message loop until what it waits for has happened.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "app/programmer_app.h"
#include "app/programmer_dlg.h"
#include "demo_station.h"
#include "handles.h"
#include "main_window.h"
#include "message_sink.h"

namespace vtwin::testing {

// Runs the message loop until done() holds; false when it has not after
// limitMs (a guard against a hang, never the outcome of a passing test).
bool PumpUntil(const std::function<bool()>& done, int limitMs = 120000);
// Handles every message that is waiting now.
void PumpPending();

// The text of a window or control.
std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
// A top-level window of this process with the class and caption, or null.
HWND FindTopLevel(const wchar_t* className, const std::string& caption);
// Presses a button of a dialog as a click does.
void Click(HWND dialog, int id);

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Before the main window is made: the station's folder and INI exist.
  virtual void BeforeWindow() {}
  // Makes the window (SetUp does unless a test wants to change the INI first).
  void OpenWindow();
  // Closes the window in order: settings saved, ports ended.
  void CloseWindow();

  // The panel window of the scanner at index (0 COM1 MV2, 1 COM2 QZ600).
  HWND PanelWindow(size_t index) const;
  // Presses the port button of that panel and switches its scanner on when
  // the panel asks for it; returns once the status line shows text.
  bool RunUntilStatusShows(size_t index, const std::string& text);
  // The panel's status line as the window shows it.
  std::string StatusShown(size_t index) const;

  std::string IniPath() const;

  bool openWindowInSetUp_ = true;
  uintptr_t strayBoxTimer_ = 0;
  DemoOptions options_;
  std::unique_ptr<Win32MessageSink> sink_;
  std::unique_ptr<DemoStation> station_;
  std::unique_ptr<CProgrammerApp> app_;
  std::unique_ptr<CProgrammerDlg> model_;
  std::unique_ptr<MainWindow> window_;
};

}  // namespace vtwin::testing
