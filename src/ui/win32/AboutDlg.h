// The About box on Windows: the program's name and version, and the contact line as a
// mail link whose subject is the version text.
#pragma once

#include <windows.h>

#include "ui/DialogTables.h"
#include "ui/win32/Dialog.h"

class CAboutDlg final : public CDialog {
 public:
  static constexpr int IDD = IDD_ABOUTBOX;

  // Without a parent the box sits on the main window, when there is one.
  explicit CAboutDlg(HWND pParent = nullptr);

  // Attaches g_aboutLink to the contact line with the settings holder's mailto link,
  // shows the version text and centres the box on its owner. Returns TRUE: the focus goes
  // to the first tab stop, OK.
  BOOL OnInitDialog() override;

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
};
