#include "app/TerminationRequests.h"

// Termination requests on Windows: the console's control events (Ctrl+C, Ctrl+Break, the
// console window closing, logoff and shutdown) and the session's end announced to the
// program's top-level windows. The console handler runs on a thread the system starts for
// it; it posts a request to a hidden window of the user-interface thread and, for the
// events after which the system ends the process, waits, bounded, for the run's tear-down.
#include <windows.h>

#include <atomic>
#include <utility>

namespace {

// The system ends the process about 5 seconds after a close, logoff or shutdown event;
// the wait stays below that.
constexpr DWORD kTearDownBoundMs = 4500;
constexpr wchar_t kClassName[] = L"QuillmarkTermination";
constexpr UINT kTerminate = WM_APP + 2;

std::atomic<HWND> g_window{nullptr};  // the serving window, null while none serves
HANDLE g_finished = nullptr;          // manual-reset: the run's tear-down has finished

BOOL WINAPI OnConsoleControl(DWORD event);

// Owns the event and the handler's registration until the process ends.
struct Registration {
  Registration() {
    g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    registered = g_finished && SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  ~Registration() {
    if (registered) SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    if (g_finished) CloseHandle(std::exchange(g_finished, nullptr));
  }
  bool registered = false;
};

BOOL WINAPI OnConsoleControl(DWORD event) {
  HWND window = g_window.load();
  if (!window || !PostMessageW(window, kTerminate, 0, 0)) return FALSE;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // Returning lets the system end the process at once: give the tear-down its time.
    if (g_finished) WaitForSingleObject(g_finished, kTearDownBoundMs);
  }
  return TRUE;
}

// A hidden top-level window: message-only windows are not told of the session's end.
class WindowService final : public TerminationService {
 public:
  explicit WindowService(std::function<void()> onTerminate) : m_onTerminate(std::move(onTerminate)) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &WindowService::WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);
    m_hWnd = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    if (!m_hWnd) return;
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (g_finished) ResetEvent(g_finished);
    g_window.store(m_hWnd);
  }
  ~WindowService() override {
    g_window.store(nullptr);
    if (m_hWnd) DestroyWindow(m_hWnd);
    if (g_finished) SetEvent(g_finished);
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* service = reinterpret_cast<WindowService*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (service && message == kTerminate) {
      service->m_onTerminate();
      return 0;
    }
    if (service && message == WM_QUERYENDSESSION) {
      // Agree, and start the tear-down now: the session may end right after the answer.
      PostMessageW(hWnd, kTerminate, 0, 0);
      return TRUE;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
  }

  HWND m_hWnd = nullptr;
  std::function<void()> m_onTerminate;
};

}  // namespace

void CatchTerminationRequests() { static const Registration s_registration; }

std::unique_ptr<TerminationService> ServeTerminationRequests(std::function<void()> onTerminate) {
  return std::make_unique<WindowService>(std::move(onTerminate));
}
