#include "ui/DialogTemplate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <cmath>
#include <vector>

#include "ui/UpDownCtrl.h"

using namespace dlgstyle;

QRect DialogBaseUnits::ToPixels(int x, int y, int width, int height) const {
  const auto px = [](double units, double scale) { return static_cast<int>(std::lround(units * scale)); };
  return {px(x, perUnitX), px(y, perUnitY), px(width, perUnitX), px(height, perUnitY)};
}

DialogBaseUnits BaseUnitsFor(const QFont& font) {
  // The average width is taken over the 52 letters, as the dialog manager does.
  const QFontMetricsF metrics(font);
  const double average =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
  return {std::round(average) / 4.0, std::ceil(metrics.height()) / 8.0};
}

QFont DialogFont(const DialogTemplate& dialog) {
  QFont font(QString::fromLatin1(dialog.fontFamily), dialog.fontPoints);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

std::vector<QWidget*> BuildControls(QWidget* parent, const DialogTemplate& dialog,
                                    const DialogBaseUnits& units) {
  std::vector<QWidget*> created;
  QWidget* previousTab = nullptr;
  int statics = 0;
  for (const ControlTemplate& control : dialog.controls) {
    const QString text = QString::fromUtf8(control.text);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ControlClass::PushButton: {
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(false);
        button->setDefault((control.style & 0xF) == BS_DEFPUSHBUTTON);
        widget = button;
        break;
      }
      case ControlClass::CheckBox:
        widget = new QCheckBox(text, parent);
        break;
      case ControlClass::Static: {
        auto* label = new QLabel(text, parent);
        label->setAlignment(((control.style & 0xF) == SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft) |
                            Qt::AlignTop);
        label->setWordWrap(true);
        widget = label;
        break;
      }
      case ControlClass::Edit: {
        auto* edit = new QLineEdit(text, parent);
        if (control.style & ES_CENTER) edit->setAlignment(Qt::AlignCenter);
        edit->setReadOnly(control.style & ES_READONLY);
        edit->setFrame(control.style & WS_BORDER);
        widget = edit;
        break;
      }
      case ControlClass::ComboBox: {
        auto* combo = new QComboBox(parent);
        combo->setEditable((control.style & 0x3) == CBS_DROPDOWN);
        combo->setInsertPolicy(QComboBox::NoInsert);
        widget = combo;
        break;
      }
      case ControlClass::UpDown:
        widget = new CUpDownCtrl(control.style, parent);
        break;
    }
    widget->setObjectName(control.id >= 0 ? QStringLiteral("control%1").arg(control.id)
                                          : QStringLiteral("static%1").arg(statics++));
    widget->setProperty("controlId", control.id);
    widget->setFont(parent->font());
    // A drop-down's template height covers its open list; the closed box is one line high.
    const int height = control.kind == ControlClass::ComboBox ? 12 : control.height;
    widget->setGeometry(units.ToPixels(control.x, control.y, control.width, height));
    widget->setEnabled(!(control.style & WS_DISABLED));
    widget->setVisible(control.style & WS_VISIBLE);
    const bool tabStop = control.style & WS_TABSTOP;
    if (control.kind == ControlClass::Static) {
      widget->setFocusPolicy(Qt::NoFocus);
    } else {
      widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    }
    if (tabStop) {
      if (previousTab) QWidget::setTabOrder(previousTab, widget);
      previousTab = widget;
    }
    created.push_back(widget);
  }
  return created;
}
