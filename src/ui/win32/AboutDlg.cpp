#include "ui/win32/AboutDlg.h"

#include "desktop/MainWindow.h"
#include "desktop/WideText_win.h"
#include "settings/PrefsDlg.h"
#include "ui/win32/StaticLink.h"

CAboutDlg::CAboutDlg(HWND pParent)
    : CDialog(AboutTemplate(), pParent ? pParent : static_cast<HWND>(GetMainWindow())) {}

BOOL CAboutDlg::OnInitDialog() {
  if (g_pPrefsDlg) g_aboutLink.m_url = g_pPrefsDlg->m_strMailtoUrl;
  g_aboutLink.SubclassDlgItem(IDC_CONTACT_LINK, m_hWnd);
  if (g_pPrefsDlg) SetDlgItemTextW(m_hWnd, IDC_VERSION_TEXT, Utf8ToWide(g_pPrefsDlg->m_strVersionText).c_str());
  CenterWindow();
  return TRUE;
}

bool CAboutDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  // The link colours itself: the parent's colour message is reflected to it.
  if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == g_aboutLink.GetSafeHwnd() &&
      g_aboutLink.GetSafeHwnd()) {
    if (HBRUSH brush = g_aboutLink.CtlColor(reinterpret_cast<HDC>(wParam))) {
      result = reinterpret_cast<INT_PTR>(brush);
      return true;
    }
  }
  return false;
}
