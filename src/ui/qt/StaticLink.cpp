#include "ui/qt/StaticLink.h"

#include <QColor>
#include <QCursor>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <memory>

#include "desktop/UserSeams.h"

CStaticLink g_aboutLink;

namespace {

// The hand cursor is made at most once per process and kept to the end.
std::unique_ptr<QCursor> g_handCursor;
bool g_handCursorTried = false;

QColor ToQColor(COLORREF color) {
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

}  // namespace

CStaticLink::CStaticLink(const char* lpText) : m_url(lpText ? lpText : ""), m_textColor(unvisitedColor) {}

CStaticLink::~CStaticLink() { Detach(); }

bool CStaticLink::SubclassDlgItem(int nID, QWidget* pParent) {
  QLabel* control = pParent ? pParent->findChild<QLabel*>(QStringLiteral("control%1").arg(nID)) : nullptr;
  if (!control) return false;
  Detach();
  m_pControl = control;
  control->installEventFilter(this);
  // A static without the notify style lets the mouse through to the dialog; the link
  // takes its own clicks and cursor.
  control->setAttribute(Qt::WA_TransparentForMouseEvents, false);
  m_destroyed = connect(control, &QObject::destroyed, this, [this] { m_pControl = nullptr; });
  control->update();
  return true;
}

void CStaticLink::Detach() {
  disconnect(m_destroyed);
  if (m_pControl) m_pControl->removeEventFilter(this);
  m_pControl = nullptr;
}

bool CStaticLink::CtlColor() {
  if (!m_pControl) return false;
  // Icon, frame and other non-text statics are coloured the default way.
  if ((m_pControl->property("controlStyle").toUInt() & 0xFF) > 2) return false;
  if (!m_underlineFont) {
    QFont font = m_pControl->font();
    font.setUnderline(true);
    m_underlineFont = font;
  }
  // Only real changes are applied: each one repaints the control.
  if (m_pControl->font() != *m_underlineFont) m_pControl->setFont(*m_underlineFont);
  const QColor color = ToQColor(m_textColor);
  if (m_pControl->palette().color(QPalette::WindowText) != color) {
    QPalette palette = m_pControl->palette();
    palette.setColor(QPalette::WindowText, color);
    m_pControl->setPalette(palette);
  }
  return true;
}

void CStaticLink::OnLButtonDown() {
  if (m_url.empty() && m_pControl) m_url = m_pControl->text().toStdString();
  if (m_url.empty()) return;
  if (!CurrentUserSeams().ShellOpen(m_url)) {
    CurrentUserSeams().MessageBeep(0);
    return;
  }
  m_textColor = visitedColor;
  if (m_pControl) m_pControl->update();
}

bool CStaticLink::OnSetCursor() {
  if (!g_handCursor && !g_handCursorTried) {
    g_handCursorTried = true;
    g_handCursor = std::make_unique<QCursor>(Qt::PointingHandCursor);
  }
  if (!g_handCursor || !m_pControl) return false;
  m_pControl->setCursor(*g_handCursor);
  return true;
}

bool CStaticLink::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_pControl) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Paint:
      CtlColor();
      break;
    case QEvent::Enter:
    case QEvent::MouseMove:
      OnSetCursor();
      break;
    case QEvent::MouseButtonPress:
      // The second press of a double click arrives as a double click and opens nothing.
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        OnLButtonDown();
        return true;
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}
