// A hyperlink made of an existing static text control on Windows: drawn underlined in
// blue, with the hand cursor, and handed to the shell's "open" when the left button goes
// down on it. After a successful open it is purple for as long as the object lives. One
// object can be attached to the static of one dialog after another; it lets go of a
// control when that control is destroyed. User-interface thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "ui/win32/GdiHandles.h"

class CStaticLink {
 public:
  static constexpr COLORREF unvisitedColor = RGB(0, 0, 255);   // blue
  static constexpr COLORREF visitedColor = RGB(128, 0, 128);   // purple

  // lpText: the URL (UTF-8), or null for none yet.
  explicit CStaticLink(const char* lpText = nullptr);
  CStaticLink(const CStaticLink&) = delete;
  CStaticLink& operator=(const CStaticLink&) = delete;
  ~CStaticLink();

  // Attaches to control nID of the dialog pParent; false when there is none.
  bool SubclassDlgItem(int nID, HWND pParent);
  // The attached control, or null.
  HWND GetSafeHwnd() const { return m_hWnd; }

  // The parent's WM_CTLCOLORSTATIC for the control, reflected to it: plain text statics
  // (left, centred or right aligned) draw with the underlined font and the current colour
  // on a transparent background; null for others, which keep the default colours.
  HBRUSH CtlColor(HDC hdc);
  // The click: opens m_url, taken from the control's text when empty, through the shell
  // seam. A failed open beeps and changes nothing else; a successful one turns it purple.
  void OnLButtonDown();
  // Shows the hand cursor, loaded once per process; false when there is none.
  bool OnSetCursor();
  bool HasUnderlineFont() const { return static_cast<bool>(m_underlineFont); }

  std::string m_url;
  COLORREF m_textColor;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR data);
  void Detach();

  HWND m_hWnd = nullptr;
  UniqueGdiObject<HFONT> m_underlineFont;  // made at the first paint, then kept
};

// The About box's contact link; it outlives every About box.
extern CStaticLink g_aboutLink;
