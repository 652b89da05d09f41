// The Preferences window's side of the settings holder on Windows: the control objects it
// attaches to, and the file-open dialog behind the browse button, which tests replace with
// a script.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

// A combo box, addressed by item position. Texts are UTF-8.
class CComboBox {
 public:
  explicit CComboBox(HWND box) : m_hWnd(box) {}
  CComboBox(const CComboBox&) = delete;
  CComboBox& operator=(const CComboBox&) = delete;

  // Appends an item (the list is unsorted); returns its position.
  int AddString(const std::string& text);
  int GetCount() const;
  // The selected position, -1 for none.
  int GetCurSel() const;
  // Selects a position; anything that is not a list position clears the selection.
  void SetCurSel(int index);
  void ResetContent();
  // The edit field's text.
  std::string GetWindowText() const;
  void SetWindowText(const std::string& text);
  HWND GetSafeHwnd() const { return m_hWnd; }

 private:
  HWND m_hWnd;
};

// An up-down control.
class CSpinButtonCtrl {
 public:
  explicit CSpinButtonCtrl(HWND control) : m_hWnd(control) {}
  CSpinButtonCtrl(const CSpinButtonCtrl&) = delete;
  CSpinButtonCtrl& operator=(const CSpinButtonCtrl&) = delete;

  // The range in the packed form of UDM_SETRANGE: upper limit in the low 16 bits, lower
  // limit in the high 16 bits.
  void SetRangePacked(unsigned packed);
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
