#include "ui/win32/StaticLink.h"

#include <commctrl.h>

#include "desktop/UserSeams.h"
#include "desktop/WideText_win.h"

CStaticLink g_aboutLink;

namespace {

constexpr UINT_PTR kSubclassId = 1;

// The hand cursor is the system's own, looked up at most once per process.
HCURSOR g_handCursor = nullptr;
bool g_handCursorTried = false;

}  // namespace

CStaticLink::CStaticLink(const char* lpText) : m_url(lpText ? lpText : ""), m_textColor(unvisitedColor) {}

CStaticLink::~CStaticLink() { Detach(); }

bool CStaticLink::SubclassDlgItem(int nID, HWND pParent) {
  HWND control = pParent ? GetDlgItem(pParent, nID) : nullptr;
  if (!control) return false;
  Detach();
  if (!SetWindowSubclass(control, &CStaticLink::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  m_hWnd = control;
  InvalidateRect(control, nullptr, TRUE);
  return true;
}

void CStaticLink::Detach() {
  if (m_hWnd) RemoveWindowSubclass(m_hWnd, &CStaticLink::SubclassProc, kSubclassId);
  m_hWnd = nullptr;
}

HBRUSH CStaticLink::CtlColor(HDC hdc) {
  if (!m_hWnd) return nullptr;
  // Icon, frame and other non-text statics are coloured the default way.
  if ((GetWindowLongPtrW(m_hWnd, GWL_STYLE) & 0xFF) > SS_RIGHT) return nullptr;
  if (!m_underlineFont) {
    LOGFONTW font{};
    auto current = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    if (!current) current = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    if (GetObjectW(current, sizeof font, &font) != 0) {
      font.lfUnderline = TRUE;
      m_underlineFont.reset(CreateFontIndirectW(&font));
    }
  }
  if (m_underlineFont) {
    SelectObject(hdc, m_underlineFont.get());
    // Some static controls select their own font after asking for the colours: it is
    // made the control's font as well, so that either way the text is underlined.
    if (reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0)) != m_underlineFont.get()) {
      SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_underlineFont.get()), TRUE);
    }
  }
  SetTextColor(hdc, m_textColor);
  SetBkMode(hdc, TRANSPARENT);
  return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

void CStaticLink::OnLButtonDown() {
  if (m_url.empty() && m_hWnd) {
    const int length = GetWindowTextLengthW(m_hWnd);
    if (length > 0) {
      std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
      text.resize(static_cast<std::size_t>(GetWindowTextW(m_hWnd, text.data(), length + 1)));
      m_url = WideToUtf8(text);
    }
  }
  if (m_url.empty()) return;
  if (!CurrentUserSeams().ShellOpen(m_url)) {
    CurrentUserSeams().MessageBeep(0);
    return;
  }
  m_textColor = visitedColor;
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
}

bool CStaticLink::OnSetCursor() {
  if (!g_handCursorTried) {
    g_handCursorTried = true;
    g_handCursor = LoadCursorW(nullptr, IDC_HAND);
  }
  if (!g_handCursor) return false;
  SetCursor(g_handCursor);
  return true;
}

LRESULT CALLBACK CStaticLink::SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR data) {
  auto* link = reinterpret_cast<CStaticLink*>(data);
  switch (message) {
    case WM_NCHITTEST:
      // A static without the notify style is transparent to the mouse; the link takes its
      // own clicks and cursor.
      return HTCLIENT;
    case WM_LBUTTONDOWN:
      link->OnLButtonDown();
      return 0;
    case WM_SETCURSOR:
      if (link->OnSetCursor()) return TRUE;
      break;
    case WM_NCDESTROY:
      link->Detach();
      break;
    default:
      break;
  }
  return DefSubclassProc(hWnd, message, wParam, lParam);
}
