#include "app/win32/Win32UserSeams.h"

#include <shellapi.h>

#include "desktop/WideText_win.h"

int Win32UserSeams::ShowMessageBox(OwnerWindow owner, const std::string& text, const std::string& caption,
                                   unsigned style) {
  auto window = static_cast<HWND>(owner);
  const UINT modality = window ? 0 : MB_TASKMODAL;
  return MessageBoxW(window, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), style | modality);
}

void Win32UserSeams::MessageBeep(unsigned type) { ::MessageBeep(type); }

bool Win32UserSeams::ShellOpen(const std::string& target) {
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", Utf8ToWide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

void Win32WaitCursor::BeginWaitCursor() {
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  if (m_depth++ == 0) m_previous = previous;
}

void Win32WaitCursor::EndWaitCursor() {
  if (m_depth == 0) return;
  if (--m_depth == 0) SetCursor(m_previous ? m_previous : LoadCursorW(nullptr, IDC_ARROW));
}
