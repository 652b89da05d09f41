// The main window on Windows: template 102 laid out like the unit's front panel, with the
// 26 key buttons, Quit, menu 129 and a tiled background bitmap. Every click and every
// mapped keyboard key sends that key's message to the unit; the keyboard map works on the
// native virtual-key codes in the modal loop's pre-translation.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "ui/DialogTables.h"
#include "ui/win32/Dialog.h"
#include "ui/win32/GdiHandles.h"

// Menu 129 from the shared table: one popup per menu, the items in order. The caller owns
// it until a window takes it as its menu bar.
HMENU BuildMenu129();

class CPanelDlg final : public CDialog {
 public:
  static constexpr int IDD = IDD_PANEL;

  explicit CPanelDlg(HWND pParent = nullptr);
  ~CPanelDlg() override;

  // Icon, menu bar, background; the window becomes the application's main window until
  // it is destroyed. Returns TRUE: the prog button gets the focus.
  BOOL OnInitDialog() override;

  // The key routine: sends the key's message; for keyboard keys the focus then moves to
  // the key's button. False when the value is no key of the panel.
  bool OnPanelKey(unsigned nKey, bool bFromKeyboard);
  // Every command of the window: base routing first (Quit, Escape, then the menu through
  // the application object), then the key routine for a key button's ID.
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  // WM_KEYDOWN of a key in the table is consumed; everything else goes on to the dialog
  // manager.
  BOOL PreTranslateMessage(MSG* pMsg) override;

  // Brings the bitmap in line with the background setting.
  void LoadBackground();
  // Erases the client area: tiles from (1, 1) and a raised edge, or false for the
  // standard background.
  bool OnEraseBkgnd(HDC hdc);
  void OnActivateApp(bool bActive);

  bool HasBackground() const { return static_cast<bool>(m_hBackground); }
  const std::string& BackgroundPath() const { return m_strBackgroundPath; }
  int BackgroundWidth() const { return m_nBkWidth; }
  int BackgroundHeight() const { return m_nBkHeight; }
  HICON Icon() const { return m_hIcon; }

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  BOOL BaseOnCommand(WPARAM wParam, LPARAM lParam);
  void OnPaint();

  HICON m_hIcon;
  UniqueGdiObject<HBITMAP> m_hBackground;
  int m_nBkWidth = 0;
  int m_nBkHeight = 0;
  std::string m_strBackgroundPath;
};
