// The Preferences window's side of the settings holder: the controls it addresses by the
// names it knows them by, the template, and the file-open dialog behind the browse button,
// which tests replace with a script.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "ui/DialogTables.h"

class QComboBox;
class QWidget;
class CUpDownCtrl;

// A list box with an optional edit field, addressed by item position.
class CComboBox {
 public:
  explicit CComboBox(QComboBox* box) : m_box(box) {}
  CComboBox(const CComboBox&) = delete;
  CComboBox& operator=(const CComboBox&) = delete;

  // Appends an item (the list is unsorted); returns its position.
  int AddString(const std::string& text);
  int GetCount() const;
  // The selected position, -1 for none.
  int GetCurSel() const;
  // Selects a position; anything that is not a list position clears the selection.
  void SetCurSel(int index);
  // The edit field's text.
  std::string GetWindowText() const;
  void SetWindowText(const std::string& text);
  QComboBox* Widget() const { return m_box; }

 private:
  QComboBox* m_box;
};

// An up-down control.
class CSpinButtonCtrl {
 public:
  explicit CSpinButtonCtrl(CUpDownCtrl* control) : m_control(control) {}
  CSpinButtonCtrl(const CSpinButtonCtrl&) = delete;
  CSpinButtonCtrl& operator=(const CSpinButtonCtrl&) = delete;

  // The range in the platform's packed form: upper limit in the low 16 bits, lower limit
  // in the high 16 bits.
  void SetRangePacked(unsigned packed);
  CUpDownCtrl* Widget() const { return m_control; }

 private:
  CUpDownCtrl* m_control;
};

// What the file-open dialog is asked to show.
struct FileOpenRequest {
  QWidget* owner;
  QString title;
  QString filter;            // "Name (*.ext)"
  QString defaultExtension;  // added to a typed name without one
  QString initialFile;
  QString initialDirectory;  // empty: the platform's default
};
// Runs a file-open dialog for an existing file: the chosen path, or nothing when the
// user cancelled.
using FileOpenDialogFunction = std::function<std::optional<QString>(const FileOpenRequest&)>;

// Installs the file-open dialog (an empty function restores the platform's) and returns
// the previous one.
FileOpenDialogFunction InstallFileOpenDialog(FileOpenDialogFunction function);
std::optional<QString> RunFileOpenDialog(const FileOpenRequest& request);
