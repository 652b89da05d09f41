#include "ui/win32/Dialog.h"

#include <algorithm>

#include "ui/win32/DialogTemplateEx.h"

namespace {

std::vector<CDialog*> g_modalDialogs;  // user-interface thread only

BOOL CALLBACK CancelForeignDialog(HWND hWnd, LPARAM) {
  wchar_t className[16] = {};
  GetClassNameW(hWnd, className, 16);
  const bool ours = std::any_of(g_modalDialogs.begin(), g_modalDialogs.end(),
                                [hWnd](const CDialog* dialog) { return dialog->GetSafeHwnd() == hWnd; });
  if (!ours && IsWindowVisible(hWnd) && lstrcmpW(className, L"#32770") == 0) {
    PostMessageW(hWnd, WM_COMMAND, IDCANCEL, 0);
  }
  return TRUE;
}

}  // namespace

CDialog::CDialog(const DialogTemplate& dialog, HWND pParentWnd) : m_template(dialog), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
  if (m_hWnd) DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
  const std::vector<DWORD> dialogTemplate = BuildDialogTemplateEx(m_template);
  HWND owner = m_pParentWnd ? GetAncestor(m_pParentWnd, GA_ROOT) : nullptr;
  m_bEnded = false;
  m_nResult = IDCANCEL;
  g_modalDialogs.push_back(this);
  const HWND created = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                                  reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()), owner,
                                                  &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  if (!created) {
    g_modalDialogs.erase(std::find(g_modalDialogs.begin(), g_modalDialogs.end(), this));
    m_hWnd = nullptr;
    return -1;
  }
  const bool disabledOwner = owner && IsWindowEnabled(owner);
  if (disabledOwner) EnableWindow(owner, FALSE);
  if (!m_bEnded) ShowWindow(m_hWnd, SW_SHOW);

  MSG msg;
  while (!m_bEnded) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      // WM_QUIT belongs to an outer loop: leave it for that one.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (PreTranslateMessage(&msg)) continue;
    if (m_hWnd && IsDialogMessageW(m_hWnd, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  // The owner takes the activation back before this window goes, so that it does not pass
  // to another program.
  if (disabledOwner) EnableWindow(owner, TRUE);
  if (owner && m_hWnd && GetActiveWindow() == m_hWnd) SetActiveWindow(owner);
  if (m_hWnd) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
  g_modalDialogs.erase(std::find(g_modalDialogs.begin(), g_modalDialogs.end(), this));
  return m_nResult;
}

void CDialog::EndDialog(int nResult) {
  m_nResult = nResult;
  m_bEnded = true;
  // Wakes the loop should it be waiting for a message.
  if (m_hWnd) PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

void CDialog::CenterWindow() {
  if (!m_hWnd) return;
  HWND owner = GetWindow(m_hWnd, GW_OWNER);
  const bool onOwner = owner && IsWindowVisible(owner) && !IsIconic(owner);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(onOwner ? owner : m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT work = monitor.rcWork;
  RECT around = work;
  if (onOwner) GetWindowRect(owner, &around);
  RECT own{};
  GetWindowRect(m_hWnd, &own);
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;
  int x = (around.left + around.right) / 2 - width / 2;
  int y = (around.top + around.bottom) / 2 - height / 2;
  x = std::max(static_cast<int>(work.left), std::min(x, static_cast<int>(work.right) - width));
  y = std::max(static_cast<int>(work.top), std::min(y, static_cast<int>(work.bottom) - height));
  SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM) {
  switch (LOWORD(wParam)) {
    case IDOK: OnOK(); return TRUE;
    case IDCANCEL: OnCancel(); return TRUE;
    default: return FALSE;
  }
}

BOOL CDialog::PreTranslateMessage(MSG*) { return FALSE; }

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
    dialog->m_hWnd = hWnd;
    return dialog->OnInitDialog();
  }
  dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
  if (!dialog) return FALSE;
  if (message == WM_COMMAND) return dialog->OnCommand(wParam, lParam);
  INT_PTR result = 0;
  if (!dialog->OnMessage(message, wParam, lParam, result)) return FALSE;
  if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORDLG || message == WM_CTLCOLORBTN ||
      message == WM_CTLCOLOREDIT || message == WM_QUERYDRAGICON) {
    return result;  // these answer through the procedure's own result
  }
  SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
  return TRUE;
}

void EndModalDialogs() {
  EnumThreadWindows(GetCurrentThreadId(), &CancelForeignDialog, 0);
  for (auto it = g_modalDialogs.rbegin(); it != g_modalDialogs.rend(); ++it) (*it)->EndDialog(IDCANCEL);
}

const std::vector<CDialog*>& ModalDialogs() { return g_modalDialogs; }
