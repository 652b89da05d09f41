// Drives modal dialogs from inside their own loops: one step per tick of a timer of this
// thread, whose messages every modal loop dispatches. A step returns true when it is done
// and false to be asked again at the next tick. Steps post what would open a nested loop,
// so that no step blocks. When the steps have not finished within the bound, every modal
// dialog of the thread is ended and the script says so.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>
#include <vector>

#include "ui/win32/Dialog.h"

class ModalScript {
 public:
  using Step = std::function<bool()>;
  static constexpr UINT kTickMs = 20;
  static constexpr int kMaxTicks = 1000;  // a safety net of 20 s, far beyond any step

  explicit ModalScript(std::vector<Step> steps) : m_steps(std::move(steps)) {
    s_current = this;
    m_timer = SetTimer(nullptr, 0, kTickMs, &ModalScript::OnTimer);
  }
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;
  ~ModalScript() {
    if (m_timer) KillTimer(nullptr, m_timer);
    s_current = nullptr;
  }

  bool Finished() const { return m_next == m_steps.size(); }
  bool RanOut() const { return m_ranOut; }
  // The step under way (0 for the first), or the number of steps once all are done.
  std::size_t StepReached() const { return m_next; }

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (s_current) s_current->Tick();
  }

  void Tick() {
    if (m_inStep || Finished() || m_ranOut) return;
    if (++m_ticks > kMaxTicks) {
      m_ranOut = true;
      EndModalDialogs();
      return;
    }
    m_inStep = true;
    const bool done = m_steps[m_next]();
    m_inStep = false;
    if (done) ++m_next;
  }

  static inline ModalScript* s_current = nullptr;
  std::vector<Step> m_steps;
  std::size_t m_next = 0;
  int m_ticks = 0;
  bool m_inStep = false;
  bool m_ranOut = false;
  UINT_PTR m_timer = 0;
};

// The innermost dialog in a modal loop, or null.
inline CDialog* InnermostDialog() {
  const std::vector<CDialog*>& dialogs = ModalDialogs();
  return dialogs.empty() ? nullptr : dialogs.back();
}
