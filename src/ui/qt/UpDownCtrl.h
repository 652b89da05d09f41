// An up-down control: two arrow buttons that step the integer in a buddy edit field
// within a range. With its arrow-keys style the Up and Down keys in the buddy step too.
#pragma once

#include <QWidget>

class QLineEdit;

class CUpDownCtrl final : public QWidget {
  Q_OBJECT

 public:
  CUpDownCtrl(unsigned style, QWidget* parent);

  // Attaches the buddy; with the align-right style the control moves to the buddy's
  // right edge and the buddy gives up that width.
  void SetBuddy(QLineEdit* buddy);
  QLineEdit* Buddy() const { return m_buddy; }
  // The range in the packed form of the platform's message: upper limit in the low 16
  // bits, lower limit in the high 16 bits.
  void SetRangePacked(unsigned packed);
  int Lower() const { return m_lower; }
  int Upper() const { return m_upper; }
  // Steps the buddy's value by delta (positive toward the upper limit) and writes it
  // back; a value outside the range first comes back to the nearer limit.
  void Step(int delta);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  unsigned m_style;
  QLineEdit* m_buddy = nullptr;
  int m_lower = 0;
  int m_upper = 100;
};
