#include "ui/win32/PanelDlg.h"

#include <string_view>

#include "desktop/MainWindow.h"
#include "desktop/WideText_win.h"
#include "midi/MidiXmit.h"
#include "remote/KeyTable.h"
#include "settings/DataFiles.h"
#include "settings/PrefsDlg.h"
#include "ui/CommandRouting.h"
#include "ui/PrefsRules.h"

namespace {

constexpr int kIconResource = 128;

}  // namespace

HMENU BuildMenu129() {
  HMENU bar = CreateMenu();
  HMENU popup = nullptr;
  std::string_view current;
  for (const MenuItem& item : Menu129()) {
    if (!popup || current != item.menu) {
      popup = CreatePopupMenu();
      current = item.menu;
      AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), Utf8ToWide(item.menu).c_str());
    }
    AppendMenuW(popup, MF_STRING, item.id, Utf8ToWide(item.item).c_str());
  }
  return bar;
}

CPanelDlg::CPanelDlg(HWND pParent)
    : CDialog(PanelTemplate(), pParent),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconResource))) {}

CPanelDlg::~CPanelDlg() = default;

BOOL CPanelDlg::OnInitDialog() {
  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  // The menu bar takes its height from the client area: the window grows by it, so that
  // the client keeps the template's size.
  HMENU menu = BuildMenu129();
  if (!SetMenu(m_hWnd, menu)) DestroyMenu(menu);  // once set, the window owns it
  RECT client = {0, 0, Template().width, Template().height};
  MapDialogRect(m_hWnd, &client);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE));
  AdjustWindowRectEx(&client, style, TRUE, exStyle);
  SetWindowPos(m_hWnd, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetMainWindow(m_hWnd);
  LoadBackground();
  return TRUE;
}

bool CPanelDlg::OnPanelKey(unsigned nKey, bool bFromKeyboard) {
  const KeyRow* row = FindKeyByValue(nKey);
  if (!row) return false;
  SendKey(*row);
  if (bFromKeyboard && m_hWnd) {
    if (HWND button = GetDlgItem(static_cast<int>(row->controlId))) SetFocus(button);
  }
  return true;
}

BOOL CPanelDlg::BaseOnCommand(WPARAM wParam, LPARAM lParam) {
  if (CDialog::OnCommand(wParam, lParam)) return TRUE;
  CCmdTarget* app = AppCommandTarget();
  return app && app->OnCmdMsg(LOWORD(wParam)) ? TRUE : FALSE;
}

BOOL CPanelDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  const BOOL handled = BaseOnCommand(wParam, lParam);
  if (const KeyRow* row = FindKeyByControlId(LOWORD(wParam))) OnPanelKey(row->keyValue, false);
  return handled;
}

BOOL CPanelDlg::PreTranslateMessage(MSG* pMsg) {
  if (pMsg->message == WM_KEYDOWN && OnPanelKey(static_cast<unsigned>(pMsg->wParam), true)) return TRUE;
  return CDialog::PreTranslateMessage(pMsg);
}

void CPanelDlg::LoadBackground() {
  const char* path = g_pPrefsDlg ? g_pPrefsDlg->GetBackgroundPath() : nullptr;
  if (path && m_strBackgroundPath == path) return;
  m_hBackground.reset();
  if (!path) {
    m_strBackgroundPath.clear();
    return;
  }
  m_strBackgroundPath = path;
  // Only a regular file is opened: a FIFO without a writer would block this thread for
  // good. A relative name missing from the current folder is looked for beside the program.
  if (!IsUsableBackground(m_strBackgroundPath)) return;
  const std::wstring file = Utf8ToWide(FindDataFile(m_strBackgroundPath));
  m_hBackground.reset(static_cast<HBITMAP>(LoadImageW(nullptr, file.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
  BITMAP bitmap{};
  if (!m_hBackground || GetObjectW(m_hBackground.get(), sizeof bitmap, &bitmap) == 0 || bitmap.bmWidth <= 0 ||
      bitmap.bmHeight <= 0) {
    m_hBackground.reset();
    return;
  }
  m_nBkWidth = bitmap.bmWidth;
  m_nBkHeight = bitmap.bmHeight;
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
}

bool CPanelDlg::OnEraseBkgnd(HDC hdc) {
  LoadBackground();
  if (m_strBackgroundPath.empty() || !m_hBackground) return false;
  MemoryDC memory(hdc);
  if (!memory.get()) return false;
  memory.Select(m_hBackground.get());
  RECT client{};
  GetClientRect(m_hWnd, &client);
  for (int y = 1; y < client.bottom; y += m_nBkHeight) {
    for (int x = 1; x < client.right; x += m_nBkWidth) {
      BitBlt(hdc, x, y, m_nBkWidth, m_nBkHeight, memory.get(), 0, 0, SRCCOPY);
    }
  }
  DrawEdge(hdc, &client, EDGE_RAISED, BF_RECT);
  return true;
}

void CPanelDlg::OnPaint() {
  PAINTSTRUCT paint;
  HDC hdc = BeginPaint(m_hWnd, &paint);
  SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0);
  RECT client{};
  GetClientRect(m_hWnd, &client);
  const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(hdc, x, y, m_hIcon);
  EndPaint(m_hWnd, &paint);
}

void CPanelDlg::OnActivateApp(bool bActive) {
  if (!bActive && g_pPrefsDlg && g_pPrefsDlg->m_bReleaseOnDeactivate && g_pMidiXmit) g_pMidiXmit->ReleasePort();
}

bool CPanelDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
  switch (message) {
    case WM_ERASEBKGND:
      if (!OnEraseBkgnd(reinterpret_cast<HDC>(wParam))) return false;
      result = TRUE;
      return true;
    case WM_PAINT:
      if (!IsIconic(m_hWnd)) return false;
      OnPaint();
      return true;
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<INT_PTR>(m_hIcon);
      return true;
    case WM_ACTIVATEAPP:
      OnActivateApp(wParam != FALSE);
      return false;  // the default processing as well
    case WM_DESTROY:
      if (GetMainWindow() == m_hWnd) SetMainWindow(nullptr);
      return false;
    default:
      return false;
  }
}
