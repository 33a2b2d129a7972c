#include "desktop_fixture.h"

#include "desktop_app.h"
#include "app/comm_dialog.h"
#include "port_panel.h"
#include "resource_ids.h"
#include "scanner_sim.h"
#include "text.h"
#include "windows_api.h"

namespace vtwin::testing {

bool PumpUntil(const std::function<bool()>& done, int limitMs) {
  const ULONGLONG limit = ::GetTickCount64() + static_cast<ULONGLONG>(limitMs);
  while (!done()) {
    if (::GetTickCount64() > limit) return false;
    PumpPending();
    if (done()) return true;
    // Sleeps until a message arrives, or looks again after a while (the
    // condition may change on another thread without a message).
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

void PumpPending() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;
    DesktopApp::Dispatch(message);
  }
}

std::string WindowText(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1024);
  return Narrow(text);
}

std::string ItemText(HWND dialog, int id) { return WindowText(::GetDlgItem(dialog, id)); }

HWND FindTopLevel(const wchar_t* className, const std::string& caption) {
  return ::FindWindowW(className, Widen(caption).c_str());
}

void Click(HWND dialog, int id) {
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

namespace {

// A box on the window thread would hold the test inside the box's loop: no
// test here expects one, so each is noted as a failure and answered.
Win32MessageSink* g_watchedSink = nullptr;

void CALLBACK AnswerStrayBoxes(HWND, UINT, UINT_PTR, DWORD) {
  if (g_watchedSink == nullptr) return;
  for (HWND box : g_watchedSink->WindowBoxes()) {
    wchar_t text[512] = {};
    ::GetDlgItemTextW(box, 0xFFFF, text, 512);
    ADD_FAILURE() << "a box on the window thread: " << WindowText(box) << ": " << Narrow(text);
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
}

}  // namespace

void DesktopTest::SetUp() {
  INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX),
                                   ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
  ::InitCommonControlsEx(&controls);
  sink_ = std::make_unique<Win32MessageSink>();
  platform::InstallMessageSink(sink_.get());
  g_watchedSink = sink_.get();
  strayBoxTimer_ = ::SetTimer(nullptr, 0, 250, AnswerStrayBoxes);
  // Fast lines and no simulated people: the test works the power switches.
  options_.lineBitsPerSecond = 0;
  options_.firmwareBytes = 2048;
  options_.operators = false;
  station_ = std::make_unique<DemoStation>(options_);
  std::string error;
  ASSERT_TRUE(station_->Prepare(error)) << error;
  BeforeWindow();
  if (openWindowInSetUp_) OpenWindow();
}

void DesktopTest::OpenWindow() {
  app_ = std::make_unique<CProgrammerApp>();
  app_->InitInstance();
  model_ = std::make_unique<CProgrammerDlg>();
  model_->m_pPortList = app_->m_pPortList.get();
  window_ = std::make_unique<MainWindow>(*model_, sink_.get());
  station_->Attach(*window_);
  ASSERT_TRUE(window_->Create());
  ::ShowWindow(window_->Handle(), SW_SHOW);
  PumpPending();
}

void DesktopTest::CloseWindow() {
  if (window_) window_->ShutDown();
  PumpPending();
}

void DesktopTest::TearDown() {
  CloseWindow();
  window_.reset();
  model_.reset();
  if (app_) app_->ExitInstance();
  app_.reset();
  // Switched off, so no scanner talks to a port that is gone.
  if (station_) {
    for (size_t i = 0; i < station_->ScannerCount(); ++i) station_->Scanner(i).PowerOff();
  }
  station_.reset();
  ::KillTimer(nullptr, strayBoxTimer_);
  g_watchedSink = nullptr;
  platform::InstallMessageSink(nullptr);
  if (sink_) sink_->Shutdown();
  sink_.reset();
  PumpPending();
}

HWND DesktopTest::PanelWindow(size_t index) const {
  for (const auto& panel : window_->Panels()) {
    if (panel->Model() != nullptr && panel->Model()->m_session.m_szPortName == station_->PanelName(index)) {
      return panel->Handle();
    }
  }
  return nullptr;
}

std::string DesktopTest::StatusShown(size_t index) const { return ItemText(PanelWindow(index), VT_IDC_STATUS); }

bool DesktopTest::RunUntilStatusShows(size_t index, const std::string& text) {
  const HWND panel = PanelWindow(index);
  if (panel == nullptr) return false;
  Click(panel, VT_IDC_PORT_BUTTON);
  scanner::ScannerSim& scanner = station_->Scanner(index);
  bool cycled = false;
  return PumpUntil([&] {
    // The operator at this scanner: on when the panel asks for it, off and
    // on again once each time the panel asks for a power cycle.
    const std::string shown = StatusShown(index);
    if (!scanner.IsPoweredOn() && shown == "Turn scanner power on") scanner.PowerOn();
    if (shown != "Please cycle scanner power to continue!") {
      cycled = false;
    } else if (!cycled) {
      cycled = true;
      scanner.PowerOff();
      scanner.PowerOn();
    }
    return shown == text;
  });
}

std::string DesktopTest::IniPath() const { return station_->Folder() + "\\ZANDRIC.INI"; }

}  // namespace vtwin::testing
