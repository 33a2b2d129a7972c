#include "desktop_app.h"

#include "app/programmer_app.h"
#include "app/programmer_dlg.h"
#include "main_window.h"
#include "windows_api.h"

namespace vtwin {

DesktopApp::DesktopApp() {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES;
  ::InitCommonControlsEx(&controls);
  sink_ = std::make_unique<Win32MessageSink>();
  platform::InstallMessageSink(sink_.get());
}

DesktopApp::~DesktopApp() {
  platform::InstallMessageSink(nullptr);
  sink_->Shutdown();
}

void DesktopApp::Dispatch(const MSG& message) {
  // The modeless dialogs (main window, log views) take their own keys.
  const HWND root = message.hwnd != nullptr ? ::GetAncestor(message.hwnd, GA_ROOT) : nullptr;
  wchar_t name[16] = {};
  if (root != nullptr && ::GetClassNameW(root, name, 16) > 0 && std::wstring(name) == L"#32770" &&
      ::IsDialogMessageW(root, const_cast<MSG*>(&message))) {
    return;
  }
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

int DesktopApp::Run(const std::function<void(MainWindow&)>& prepare) {
  CProgrammerApp programmerApp;
  programmerApp.InitInstance();
  int result = 0;
  {
    CProgrammerDlg model;
    model.m_pPortList = programmerApp.m_pPortList.get();
    MainWindow window(model, sink_.get());
    if (prepare) prepare(window);
    if (window.Create()) {
      ::ShowWindow(window.Handle(), SW_SHOW);
      MSG message;
      while (::GetMessageW(&message, nullptr, 0, 0) > 0) Dispatch(message);
      if (message.message == WM_QUIT) result = static_cast<int>(message.wParam);
    } else {
      result = 1;
    }
    // Ended from outside: close in order all the same.
    window.ShutDown();
  }
  programmerApp.ExitInstance();
  return result;
}

}  // namespace vtwin
