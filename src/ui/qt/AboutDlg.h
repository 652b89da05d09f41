// The About box: the program's name and version, and the contact line as a mail link
// whose subject is the version text.
#pragma once

#include <QDialog>
#include <vector>

#include "ui/DialogTables.h"

class CAboutDlg final : public QDialog {
 public:
  static constexpr int IDD = IDD_ABOUTBOX;

  // Without a parent the box sits on the main window, when there is one.
  explicit CAboutDlg(QWidget* pParent = nullptr);

  // Runs the box modally; returns QM_IDOK or QM_IDCANCEL.
  int DoModal();
  // Attaches g_aboutLink to the contact line with the settings holder's mailto link,
  // shows the version text and centres the box on its owner. Returns true: the focus
  // goes to the first tab stop, OK.
  bool OnInitDialog();

  QWidget* Control(int id) const;

 private:
  std::vector<QWidget*> m_controls;
};
