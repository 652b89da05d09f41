// The Preferences window on Qt: the combo boxes and up-down controls the settings holder
// attaches to, and the file-open dialog behind the browse button, which tests replace with
// a script.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "ui/DialogTables.h"
#include "ui/PrefsWindow.h"

class QComboBox;
class QWidget;
class CUpDownCtrl;

class QtComboBox final : public CComboBox {
 public:
  explicit QtComboBox(QComboBox* box) : m_box(box) {}

  int AddString(const std::string& text) override;
  void DisableItem(int index) override;
  void ResetContent() override;
  int GetCount() const override;
  int GetCurSel() const override;
  void SetCurSel(int index) override;
  std::string GetWindowText() const override;
  void SetWindowText(const std::string& text) override;
  QComboBox* Widget() const { return m_box; }

 private:
  QComboBox* m_box;
};

class QtSpinButtonCtrl final : public CSpinButtonCtrl {
 public:
  explicit QtSpinButtonCtrl(CUpDownCtrl* control) : m_control(control) {}

  void SetRangePacked(unsigned packed) override;
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
