#include "app/qt/QtUserSeams.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>
#include <QWidget>

int QtUserSeams::ShowMessageBox(OwnerWindow owner, const std::string& text, const std::string& caption,
                            unsigned style) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (style & 0xF0) {
    case QM_MB_ICONHAND: icon = QMessageBox::Critical; break;
    case QM_MB_ICONQUESTION: icon = QMessageBox::Question; break;
    case QM_MB_ICONWARNING: icon = QMessageBox::Warning; break;
    case QM_MB_ICONINFORMATION: icon = QMessageBox::Information; break;
    default: break;
  }
  const bool yesNo = (style & 0x0F) == QM_MB_YESNO;
  QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text),
                  yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                  static_cast<QWidget*>(owner));
  // Without an owner the box is application-modal, as an ownerless box is on the desktop.
  box.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
  const int answer = box.exec();
  if (answer == QMessageBox::Yes) return QM_IDYES;
  if (answer == QMessageBox::No) return QM_IDNO;
  return QM_IDOK;
}

void QtUserSeams::MessageBeep(unsigned) { QApplication::beep(); }

bool QtUserSeams::ShellOpen(const std::string& target) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  // The desktop's opener takes the text as it is, as one argument with no shell between:
  // a mail link's subject keeps its blanks instead of arriving percent-encoded, which is
  // how the toolkit's own opener would hand it over. Without the opener, the toolkit's
  // way (a desktop portal, for one) still applies.
  if (QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(target)})) return true;
#endif
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(target), QUrl::TolerantMode));
}
