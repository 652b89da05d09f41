#include "app/win32/MessageWindow.h"

#include <utility>

namespace {

constexpr wchar_t kClassName[] = L"QuillmarkMessageWindow";
constexpr UINT kRunPosted = WM_APP + 1;

ATOM RegisterMessageClass(WNDPROC proc) {
  static const ATOM atom = [proc] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    return RegisterClassExW(&windowClass);
  }();
  return atom;
}

// A poster: a message-only window whose items call the engine's procedure.
class Win32UiPoster final : public UiPoster {
 public:
  explicit Win32UiPoster(PostedMessageProc proc) : m_proc(proc) {}

  bool Post(unsigned message, std::uintptr_t wParam, std::uintptr_t lParam) override {
    return m_window.Post([this, message, wParam, lParam] { m_proc(this, message, wParam, lParam); });
  }

  bool Valid() const { return m_window.GetSafeHwnd() != nullptr; }

 private:
  PostedMessageProc m_proc;
  MessageWindow m_window;
};

}  // namespace

MessageWindow::MessageWindow() {
  if (!RegisterMessageClass(&MessageWindow::WindowProc)) return;
  m_hWnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
  if (m_hWnd) SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageWindow::~MessageWindow() {
  // The window's pending wake-ups go with it.
  if (m_hWnd) DestroyWindow(m_hWnd);
}

bool MessageWindow::Post(std::function<void()> item) {
  if (!m_hWnd) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_items.push_back(std::move(item));
  if (!PostMessageW(m_hWnd, kRunPosted, 0, 0)) {
    m_items.pop_back();
    return false;
  }
  return true;
}

void MessageWindow::RunOne() {
  std::function<void()> item;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_items.empty()) return;
    item = std::move(m_items.front());
    m_items.pop_front();
  }
  item();
}

LRESULT CALLBACK MessageWindow::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunPosted) {
    if (auto* window = reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA))) window->RunOne();
    return 0;
  }
  return DefWindowProcW(hWnd, message, wParam, lParam);
}

std::unique_ptr<UiPoster> Win32UiPosterFactory::Create(PostedMessageProc proc) {
  auto poster = std::make_unique<Win32UiPoster>(proc);
  if (!poster->Valid()) return nullptr;
  return poster;
}

void Win32UiThreadInvoker::PostToUiThread(std::function<void()> task) { m_window.Post(std::move(task)); }
