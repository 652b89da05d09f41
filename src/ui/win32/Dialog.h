// A modal dialog of the Win32 front end, created from a shared template: the dialog
// manager makes the window and its controls, and our own modal loop runs it, so that a
// dialog sees each message before the dialog manager does (PreTranslateMessage), as the
// framework the program was first drawn for did. Nested modal dialogs run loops of their
// own; each ends when EndDialog has been called and control comes back to it.
// User-interface thread only.
#pragma once

#include <windows.h>

#include <vector>

#include "ui/DialogTemplate.h"

class CDialog {
 public:
  // The window is owned by pParentWnd's top-level window; null for none.
  CDialog(const DialogTemplate& dialog, HWND pParentWnd);
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;
  virtual ~CDialog();

  // Creates the window, disables its owner and runs the modal loop until EndDialog, then
  // enables the owner and destroys the window. Returns the result given to EndDialog, or
  // -1 when the window could not be made.
  INT_PTR DoModal();
  // Ends the modal loop with nResult once control returns to it.
  void EndDialog(int nResult);

  HWND GetSafeHwnd() const { return m_hWnd; }
  HWND GetDlgItem(int nID) const { return m_hWnd ? ::GetDlgItem(m_hWnd, nID) : nullptr; }
  const DialogTemplate& Template() const { return m_template; }

  // Centres the window on its owner when the owner is shown and not minimized, else on
  // the work area of its monitor, and keeps it inside that work area.
  void CenterWindow();

 protected:
  // After the controls exist; TRUE lets the dialog manager focus the first tab stop.
  virtual BOOL OnInitDialog() { return TRUE; }
  // Every WM_COMMAND: IDOK and IDCANCEL go to OnOK and OnCancel. TRUE when handled.
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // Each message the loop fetches, before the dialog manager; TRUE when consumed.
  virtual BOOL PreTranslateMessage(MSG* pMsg);
  // The other messages of the window; true when handled, with the procedure's result.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  const DialogTemplate& m_template;
  HWND m_pParentWnd;
  bool m_bEnded = false;
  int m_nResult = IDCANCEL;
};

// Ends every dialog of this thread that is in a modal loop, innermost first, and closes
// message boxes and file dialogs of the thread as their Cancel would. For the end of the
// run on a request from the desktop.
void EndModalDialogs();

// The dialogs in a modal loop now, outermost first.
const std::vector<CDialog*>& ModalDialogs();
