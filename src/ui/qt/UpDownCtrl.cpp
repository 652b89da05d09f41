#include "ui/qt/UpDownCtrl.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

#include "ui/qt/DialogBuilder.h"

CUpDownCtrl::CUpDownCtrl(unsigned style, QWidget* parent) : QWidget(parent), m_style(style) {}

void CUpDownCtrl::SetBuddy(QLineEdit* buddy) {
  if (m_buddy) m_buddy->removeEventFilter(this);
  m_buddy = buddy;
  if (!m_buddy) return;
  if (m_style & dlgstyle::QM_UDS_ARROWKEYS) m_buddy->installEventFilter(this);
  if (m_style & dlgstyle::QM_UDS_ALIGNRIGHT) {
    QRect field = m_buddy->geometry();
    const int own = width();
    field.setWidth(std::max(1, field.width() - own));
    m_buddy->setGeometry(field);
    setGeometry(field.right() + 1, field.top(), own, field.height());
  }
}

void CUpDownCtrl::SetRangePacked(unsigned packed) {
  m_upper = static_cast<std::int16_t>(packed & 0xFFFF);
  m_lower = static_cast<std::int16_t>(packed >> 16);
}

void CUpDownCtrl::Step(int delta) {
  if (!m_buddy || !isEnabled()) return;
  bool ok = false;
  int value = m_buddy->text().trimmed().toInt(&ok);
  if (!ok) value = m_lower;
  const int low = std::min(m_lower, m_upper);
  const int high = std::max(m_lower, m_upper);
  const int direction = m_upper >= m_lower ? 1 : -1;
  value = std::clamp(std::clamp(value, low, high) + delta * direction, low, high);
  if (m_style & dlgstyle::QM_UDS_SETBUDDYINT) m_buddy->setText(QString::number(value));
}

void CUpDownCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOption option;
  option.initFrom(this);
  const int half = height() / 2;
  const QRect halves[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
  const QStyle::PrimitiveElement arrows[2] = {QStyle::PE_IndicatorArrowUp,
                                              QStyle::PE_IndicatorArrowDown};
  for (int i = 0; i < 2; ++i) {
    QStyleOptionButton button;
    button.initFrom(this);
    button.rect = halves[i];
    style()->drawControl(QStyle::CE_PushButtonBevel, &button, &painter, this);
    option.rect = halves[i].adjusted(2, 2, -2, -2);
    style()->drawPrimitive(arrows[i], &option, &painter, this);
  }
}

void CUpDownCtrl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  Step(event->position().y() < height() / 2.0 ? 1 : -1);
  if (m_buddy) m_buddy->setFocus();
}

bool CUpDownCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_buddy && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      Step(key == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
