#include "ui/qt/AboutDlg.h"

#include <QLineEdit>
#include <QPushButton>

#include "desktop/MainWindow.h"
#include "settings/PrefsDlg.h"
#include "ui/DialogTables.h"
#include "ui/qt/DialogBuilder.h"
#include "ui/qt/StaticLink.h"

CAboutDlg::CAboutDlg(QWidget* pParent)
    : QDialog(pParent ? pParent : static_cast<QWidget*>(GetMainWindow())),
      m_controls(BuildDialog(this, AboutTemplate())) {
  setObjectName(QStringLiteral("about"));
  if (auto* ok = qobject_cast<QPushButton*>(Control(QM_IDOK))) connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QWidget* CAboutDlg::Control(int id) const {
  return findChild<QWidget*>(QStringLiteral("control%1").arg(id), Qt::FindDirectChildrenOnly);
}

int CAboutDlg::DoModal() {
  if (OnInitDialog()) FocusFirstTabStop(m_controls);
  return exec() == QDialog::Accepted ? QM_IDOK : QM_IDCANCEL;
}

bool CAboutDlg::OnInitDialog() {
  if (g_pPrefsDlg) g_aboutLink.m_url = g_pPrefsDlg->m_strMailtoUrl;
  g_aboutLink.SubclassDlgItem(IDC_CONTACT_LINK, this);
  if (auto* version = qobject_cast<QLineEdit*>(Control(IDC_VERSION_TEXT)); version && g_pPrefsDlg) {
    version->setText(QString::fromStdString(g_pPrefsDlg->m_strVersionText));
  }
  CenterDialog(this);
  return true;
}
