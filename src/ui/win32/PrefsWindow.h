// The Preferences window on Windows: the combo boxes and up-down controls the settings
// holder attaches to, and the file-open dialog behind the browse button, which tests
// replace with a script.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "ui/PrefsWindow.h"

class Win32ComboBox final : public CComboBox {
 public:
  explicit Win32ComboBox(HWND box) : m_hWnd(box) {}

  int AddString(const std::string& text) override;
  // The dialog manager's combo boxes cannot grey out an item.
  void DisableItem(int) override {}
  void ResetContent() override;
  int GetCount() const override;
  int GetCurSel() const override;
  void SetCurSel(int index) override;
  std::string GetWindowText() const override;
  void SetWindowText(const std::string& text) override;
  HWND GetSafeHwnd() const { return m_hWnd; }

 private:
  HWND m_hWnd;
};

class Win32SpinButtonCtrl final : public CSpinButtonCtrl {
 public:
  explicit Win32SpinButtonCtrl(HWND control) : m_hWnd(control) {}

  // UDM_SETRANGE.
  void SetRangePacked(unsigned packed) override;
  HWND GetSafeHwnd() const { return m_hWnd; }

 private:
  HWND m_hWnd;
};

// What the file-open dialog is asked to show. Texts are UTF-8.
struct FileOpenRequest {
  HWND owner;
  std::string title;
  std::string filterName;     // "Name (*.ext)"
  std::string filterPattern;  // "*.ext"
  std::string defaultExtension;  // added to a typed name without one
  std::string initialFile;       // empty when it does not fit the dialog's buffer
  std::string initialDirectory;  // empty: the platform's default
  DWORD flags;
};
// Runs a file-open dialog for an existing file: the chosen path, or nothing when the
// user cancelled.
using FileOpenDialogFunction = std::function<std::optional<std::string>(const FileOpenRequest&)>;

// Installs the file-open dialog (an empty function restores the platform's) and returns
// the previous one.
FileOpenDialogFunction InstallFileOpenDialog(FileOpenDialogFunction function);
std::optional<std::string> RunFileOpenDialog(const FileOpenRequest& request);
