// The desktop program around the main window: the Qt application with the
// templates' font and the program's icon, the message-box sink, the
// application object (the USB port list) and the main window's model and
// view, run until the main window has closed. vantorel and vantorel-demo
// both run through it; the demo attaches its simulated bench first. An
// interrupt (Ctrl-C) or a termination request closes the main window the
// way the operator closes it: settings saved, every port ended.
#pragma once

#include <QApplication>

#include <functional>

#include "qt_message_sink.h"

namespace vtgui {

class MainWindowView;

class DesktopApp {
 public:
  // Makes the Qt application and installs the message-box sink.
  DesktopApp(int& argc, char** argv);
  // Removes the sink.
  ~DesktopApp();
  DesktopApp(const DesktopApp&) = delete;
  DesktopApp& operator=(const DesktopApp&) = delete;

  // Application start: the port list, the main window (prepare runs on its
  // view before the initialisation), the event loop until the main window
  // has closed, the port list deleted. Returns the loop's exit code.
  int Run(const std::function<void(MainWindowView&)>& prepare = {});

  QtMessageSink& Sink() { return *sink_; }

 private:
  QApplication app_;
  QtMessageSink* sink_;
};

}  // namespace vtgui
