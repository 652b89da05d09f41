// Hidden message-only windows that carry work posted from any thread to the
// user-interface thread: the engine's posters (the stand-in for each stream's hidden
// window) and the version check's invoker. What is posted waits in a queue of ours under a
// lock; the window's own queue carries only a wake-up per item, so an item's values never
// travel inside a window message. Destroying one drops what it has not run yet.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "desktop/UiPoster.h"
#include "update/UpdateSeams.h"

// A message-only window of the calling thread whose posted items run on that thread.
class MessageWindow {
 public:
  MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  // Must be called on the thread that made it.
  ~MessageWindow();

  // Thread-safe. False when the window could not be made or the wake-up not posted.
  bool Post(std::function<void()> item);
  HWND GetSafeHwnd() const { return m_hWnd; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  void RunOne();

  HWND m_hWnd = nullptr;
  std::mutex m_mutex;
  std::deque<std::function<void()>> m_items;
};

class Win32UiPosterFactory final : public UiPosterFactory {
 public:
  std::unique_ptr<UiPoster> Create(PostedMessageProc proc) override;
};

class Win32UiThreadInvoker final : public UiThreadInvoker {
 public:
  void PostToUiThread(std::function<void()> task) override;

 private:
  MessageWindow m_window;
};
