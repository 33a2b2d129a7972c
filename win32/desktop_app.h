// The desktop program around the main window on Windows: the common controls,
// the message-box sink, the application object (the USB port list) and the
// main window's model and window, run until the main window has closed.
// vantorel.exe and vantorel-demo.exe both run through it; the demo puts its
// simulated bench in front of the main window first.
#pragma once

#include <functional>
#include <memory>

#include "message_sink.h"

struct tagMSG;

namespace vtwin {

class MainWindow;

class DesktopApp {
 public:
  // Registers the common controls and installs the message-box sink. Made on
  // the thread that will run the windows.
  DesktopApp();
  // Removes the sink.
  ~DesktopApp();
  DesktopApp(const DesktopApp&) = delete;
  DesktopApp& operator=(const DesktopApp&) = delete;

  // Application start: the port list, the main window (prepare runs on it
  // before its creation), the message loop until the main window has
  // closed, the port list deleted. Returns the loop's exit code.
  int Run(const std::function<void(MainWindow&)>& prepare = {});

  Win32MessageSink& Sink() { return *sink_; }

  // Hands one message of the loop to its window: the keyboard of a dialog
  // (tab, Enter, Escape) to the dialog, everything else dispatched.
  static void Dispatch(const tagMSG& message);

 private:
  std::unique_ptr<Win32MessageSink> sink_;
};

}  // namespace vtwin
