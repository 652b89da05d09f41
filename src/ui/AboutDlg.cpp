#include "ui/AboutDlg.h"

#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <cstddef>

#include "settings/BuildConfig.h"
#include "desktop/MainWindow.h"
#include "settings/PrefsDlg.h"
#include "ui/DialogTemplate.h"
#include "ui/StaticLink.h"

using namespace dlgstyle;

namespace {

template <std::size_t A, std::size_t B>
constexpr std::array<char, A + B - 1> Join(const char (&first)[A], const char (&second)[B]) {
  std::array<char, A + B - 1> joined{};
  for (std::size_t i = 0; i + 1 < A; ++i) joined[i] = first[i];
  for (std::size_t i = 0; i < B; ++i) joined[A - 1 + i] = second[i];
  return joined;
}

constexpr auto kContactLine = Join(kContactEmail, "\nWritten by the Quillmark developers");

constexpr unsigned kCentredStatic = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER;  // 0x50020001

constexpr std::array<ControlTemplate, 5> kAboutControls = {{
    {1005, ControlClass::Static, kContactLine.data(), 8, 20, 165, 16, kCentredStatic},
    {-1, ControlClass::Static, "MIDI: JACK and ALSA sequencer libraries", 9, 40, 164, 9, kCentredStatic},
    {-1, ControlClass::Static, "User interface: the Qt 6 toolkit", 14, 49, 152, 8, kCentredStatic},
    {QM_IDOK, ControlClass::PushButton, "OK", 65, 62, 50, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {1006, ControlClass::Edit, "", 23, 5, 136, 12, WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_READONLY | ES_CENTER},
}};

constexpr DialogTemplate kAboutTemplate = {CAboutDlg::IDD, "About Quillmark", 19, 37, 182, 79,
                                           "MS Sans Serif", 8, kAboutControls};

}  // namespace

CAboutDlg::CAboutDlg(QWidget* pParent)
    : QDialog(pParent ? pParent : static_cast<QWidget*>(GetMainWindow())),
      m_controls(BuildDialog(this, kAboutTemplate)) {
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
  g_aboutLink.SubclassDlgItem(1005, this);
  if (auto* version = qobject_cast<QLineEdit*>(Control(1006)); version && g_pPrefsDlg) {
    version->setText(QString::fromStdString(g_pPrefsDlg->m_strVersionText));
  }
  CenterDialog(this);
  return true;
}
