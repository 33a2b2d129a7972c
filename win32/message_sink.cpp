#include "message_sink.h"

#include <algorithm>

#include "system_beep.h"
#include "text.h"
#include "windows_api.h"

namespace vtwin {

namespace {

constexpr UINT kBoxRequested = WM_APP + 1;  // a port thread asked for a box
constexpr UINT kBoxAnswered = WM_APP + 2;   // a box thread's box was answered
constexpr wchar_t kWindowClass[] = L"VantorelMessageSink";

// Where the box that MessageBoxW is about to make on this thread is noted:
// its handle is known only to a hook while the call runs.
thread_local std::atomic<HWND>* t_boxSlot = nullptr;
thread_local HHOOK t_hook = nullptr;

LRESULT CALLBACK NoteBoxWindow(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && t_boxSlot != nullptr && t_boxSlot->load() == nullptr) {
    const HWND hwnd = reinterpret_cast<HWND>(wParam);
    const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
    wchar_t name[16] = {};
    ::GetClassNameW(hwnd, name, 16);
    if ((create->lpcs->style & WS_CHILD) == 0 && std::wstring(name) == L"#32770") t_boxSlot->store(hwnd);
  }
  return ::CallNextHookEx(t_hook, code, wParam, lParam);
}

// MessageBoxW with the box's handle noted in slot while it is open.
void RunBox(unsigned style, const std::string& caption, const std::string& text, std::atomic<HWND>& slot) {
  t_boxSlot = &slot;
  t_hook = ::SetWindowsHookExW(WH_CBT, NoteBoxWindow, nullptr, ::GetCurrentThreadId());
  ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(), style);
  if (t_hook != nullptr) ::UnhookWindowsHookEx(t_hook);
  t_hook = nullptr;
  t_boxSlot = nullptr;
  slot.store(nullptr);
}

void Answer(HWND box) {
  if (box != nullptr) ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

}  // namespace

Win32MessageSink::Win32MessageSink() : windowThread_(std::this_thread::get_id()) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = reinterpret_cast<WNDPROC>(&Win32MessageSink::WindowProc);
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  ::RegisterClassW(&wc);  // fails harmlessly when a second sink registers it again
  messageWindow_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     instance, nullptr);
  ::SetWindowLongPtrW(messageWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32MessageSink::~Win32MessageSink() {
  Shutdown();
  if (messageWindow_ != nullptr) {
    ::SetWindowLongPtrW(messageWindow_, GWLP_USERDATA, 0);
    ::DestroyWindow(messageWindow_);
  }
}

intptr_t __stdcall Win32MessageSink::WindowProc(HWND hwnd, unsigned message, uintptr_t wParam,
                                                intptr_t lParam) {
  auto* sink = reinterpret_cast<Win32MessageSink*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (sink != nullptr && message == kBoxRequested) {
    sink->OpenRequested();
    return 0;
  }
  if (sink != nullptr && message == kBoxAnswered) {
    sink->JoinFinished();
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

bool Win32MessageSink::OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

unsigned Win32MessageSink::BoxStyle(platform::BoxKind kind) {
  unsigned icon = MB_ICONINFORMATION;
  switch (kind) {
    case platform::BoxKind::kError:
    case platform::BoxKind::kPlainError:
    case platform::BoxKind::kApiError:
      icon = MB_ICONERROR;
      break;
    case platform::BoxKind::kWarning:
      icon = MB_ICONWARNING;
      break;
    case platform::BoxKind::kNotice:
    case platform::BoxKind::kInfo:
      break;
  }
  return MB_OK | icon | MB_TOPMOST | MB_SETFOREGROUND;
}

void Win32MessageSink::Show(platform::BoxKind kind, const std::string& caption, const std::string& text) {
  if (OnWindowThread()) {
    ShowOnWindowThread(kind, caption, text);
    return;
  }
  std::shared_ptr<platform::BoxQueue::Waiter> waiter;
  if (!queue_.Enqueue(kind, caption, text, waiter)) return;
  ::PostMessageW(messageWindow_, kBoxRequested, 0, 0);
  queue_.Wait(waiter);
}

void Win32MessageSink::ShowOnWindowThread(platform::BoxKind kind, const std::string& caption,
                                          const std::string& text) {
  // The command that asked for the box carries on after OK; the box has no
  // owner, so every other window of the program takes input meanwhile, run
  // by the box's own message loop. A box asked for within that loop stands
  // on top of this one.
  std::atomic<HWND> slot{nullptr};
  const size_t depth = windowBoxes_.size();
  windowBoxes_.push_back(&slot);
  std::atomic<HWND>* const outerSlot = t_boxSlot;
  const HHOOK outerHook = t_hook;
  RunBox(BoxStyle(kind), caption, text, slot);
  t_boxSlot = outerSlot;
  t_hook = outerHook;
  windowBoxes_.resize(depth);
  if (windowBoxes_.empty() && windowBoxesClosed_) windowBoxesClosed_();
}

std::vector<HWND> Win32MessageSink::WindowBoxes() const {
  std::vector<HWND> open;
  for (const std::atomic<HWND>* slot : windowBoxes_) {
    const HWND box = slot->load();
    if (box != nullptr && ::IsWindow(box)) open.push_back(box);
  }
  return open;
}

void Win32MessageSink::CloseWindowBoxes() {
  for (HWND box : WindowBoxes()) Answer(box);
}

void Win32MessageSink::OpenRequested() {
  std::vector<platform::BoxQueue::Request> requests = queue_.Take();
  for (platform::BoxQueue::Request& request : requests) {
    auto record = std::make_unique<BoxThread>();
    BoxThread* box = record.get();
    const HWND sinkWindow = messageWindow_;
    box->thread = std::thread([box, sinkWindow, request = std::move(request)] {
      RunBox(BoxStyle(request.kind), request.caption, request.text, box->box);
      // Every way the box goes (OK, Escape, close box, shutdown) releases its
      // port thread; releasing twice does no harm.
      if (request.waiter) request.waiter->Release();
      box->done.store(true);
      ::PostMessageW(sinkWindow, kBoxAnswered, 0, 0);
    });
    std::lock_guard<std::mutex> lock(threadsMutex_);
    boxThreads_.push_back(std::move(record));
  }
}

void Win32MessageSink::JoinFinished() {
  std::vector<std::unique_ptr<BoxThread>> finished;
  {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    for (auto it = boxThreads_.begin(); it != boxThreads_.end();) {
      if ((*it)->done.load()) {
        finished.push_back(std::move(*it));
        it = boxThreads_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& box : finished) box->thread.join();
}

std::vector<HWND> Win32MessageSink::OpenBoxes() const {
  std::vector<HWND> open;
  std::lock_guard<std::mutex> lock(threadsMutex_);
  for (const auto& box : boxThreads_) {
    if (HWND hwnd = box->box.load(); hwnd != nullptr && !box->done.load()) open.push_back(hwnd);
  }
  return open;
}

void Win32MessageSink::Beep(uint32_t type) { SystemBeep(type); }

void Win32MessageSink::ReleaseThread(std::thread::id thread) { queue_.ReleaseThread(thread); }

void Win32MessageSink::ForgetThread(std::thread::id thread) { queue_.ForgetThread(thread); }

void Win32MessageSink::Shutdown() {
  queue_.Close();
  // Box threads are joined on the window thread only; elsewhere they stay
  // listed for it.
  if (!OnWindowThread()) return;
  std::vector<std::unique_ptr<BoxThread>> boxes;
  {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    boxes.swap(boxThreads_);
  }
  CloseWindowBoxes();
  // Each box thread ends once its box is answered; a box that is still being
  // made is answered as soon as the hook has noted it.
  for (auto& box : boxes) {
    while (!box->done.load()) {
      Answer(box->box.load());
      ::Sleep(10);
    }
    box->thread.join();
  }
}

bool Win32MessageSink::IsShutDown() const { return queue_.IsClosed(); }

}  // namespace vtwin
