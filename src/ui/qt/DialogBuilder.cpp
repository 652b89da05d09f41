#include "ui/qt/DialogBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QWindow>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <vector>

#include "ui/qt/UpDownCtrl.h"

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
        button->setDefault((control.style & 0xF) == QM_BS_DEFPUSHBUTTON);
        widget = button;
        break;
      }
      case ControlClass::CheckBox:
        widget = new QCheckBox(text, parent);
        break;
      case ControlClass::Static: {
        auto* label = new QLabel(text, parent);
        label->setAlignment(((control.style & 0xF) == QM_SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft) |
                            Qt::AlignTop);
        label->setWordWrap(true);
        widget = label;
        break;
      }
      case ControlClass::Edit: {
        auto* edit = new QLineEdit(text, parent);
        if (control.style & QM_ES_CENTER) edit->setAlignment(Qt::AlignCenter);
        edit->setReadOnly(control.style & QM_ES_READONLY);
        edit->setFrame(control.style & QM_WS_BORDER);
        if (control.style & QM_ES_NUMBER) {
          // Typing is limited to digits; text set by the program is not checked.
          edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        }
        if (control.style & QM_ES_READONLY) {
          QPalette face = edit->palette();
          face.setColor(QPalette::Base, face.color(QPalette::Window));
          edit->setPalette(face);
        }
        widget = edit;
        break;
      }
      case ControlClass::ComboBox: {
        auto* combo = new QComboBox(parent);
        combo->setEditable((control.style & 0x3) == QM_CBS_DROPDOWN);
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
    widget->setProperty("controlStyle", control.style);
    widget->setFont(parent->font());
    // A drop-down's template height covers its open list; the closed box is one line high.
    const int height = control.kind == ControlClass::ComboBox ? 12 : control.height;
    widget->setGeometry(units.ToPixels(control.x, control.y, control.width, height));
    widget->setEnabled(!(control.style & QM_WS_DISABLED));
    widget->setVisible(control.style & QM_WS_VISIBLE);
    const bool tabStop = control.style & QM_WS_TABSTOP;
    if (control.kind == ControlClass::Static) {
      widget->setFocusPolicy(Qt::NoFocus);
    } else {
      widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    }
    if (tabStop) {
      if (previousTab) QWidget::setTabOrder(previousTab, widget);
      previousTab = widget;
    }
    if (control.kind == ControlClass::UpDown && (control.style & QM_UDS_AUTOBUDDY) && !created.empty()) {
      if (auto* buddy = qobject_cast<QLineEdit*>(created.back())) static_cast<CUpDownCtrl*>(widget)->SetBuddy(buddy);
    }
    created.push_back(widget);
  }
  // A static's mnemonic moves the focus to the control that follows it.
  for (std::size_t i = 0; i < created.size(); ++i) {
    auto* label = qobject_cast<QLabel*>(created[i]);
    if (!label || !label->text().contains(QLatin1Char('&'))) continue;
    for (std::size_t next = i + 1; next < created.size(); ++next) {
      if (dialog.controls[next].kind != ControlClass::Static) {
        label->setBuddy(created[next]);
        break;
      }
    }
  }
  return created;
}

std::vector<QWidget*> BuildDialog(QDialog* dialog, const DialogTemplate& dialog_template) {
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  dialog->setWindowTitle(QString::fromUtf8(dialog_template.caption));
  dialog->setFont(DialogFont(dialog_template));
  const DialogBaseUnits units = BaseUnitsFor(dialog->font());
  dialog->setFixedSize(units.ToPixels(0, 0, dialog_template.width, dialog_template.height).size());
  return BuildControls(dialog, dialog_template, units);
}

namespace {

// The frame the window manager put around our windows last: a window that is not shown
// yet has none, and the desktop tells its size only once it has framed the window.
QMargins g_lastFrameMargins;

QMargins KnownFrameMargins(const QWidget* window) {
  const QWindow* handle = window ? window->windowHandle() : nullptr;
  if (!handle || !window->isVisible()) return {};
  const QMargins margins = handle->frameMargins();
  if (!margins.isNull()) g_lastFrameMargins = margins;
  return margins;
}

void MoveCentred(QWidget* window, const QMargins& frame) {
  QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
  const bool onOwner = owner && owner->isVisible() && !owner->isMinimized();
  QScreen* screen = onOwner ? owner->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect work = screen->availableGeometry();
  const QRect around = onOwner ? owner->frameGeometry() : work;
  const QSize size = window->size().grownBy(frame);
  QPoint topLeft = around.center() - QPoint(size.width() / 2, size.height() / 2);
  topLeft.setX(std::max(work.left(), std::min(topLeft.x(), work.right() + 1 - size.width())));
  topLeft.setY(std::max(work.top(), std::min(topLeft.y(), work.bottom() + 1 - size.height())));
  // The position of a top-level window is that of its frame.
  window->move(topLeft);
}

// Centres the window once more when it shows with a frame of another size than the one
// it was centred with, then goes.
class CentreAgainWhenFramed final : public QObject {
 public:
  CentreAgainWhenFramed(QWidget* window, const QMargins& assumed) : QObject(window), m_assumed(assumed) {
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::Paint || event->type() == QEvent::Move) {
      const QMargins frame = KnownFrameMargins(window);
      if (!frame.isNull() || event->type() == QEvent::Paint) {
        window->removeEventFilter(this);
        if (!frame.isNull() && frame != m_assumed) MoveCentred(window, frame);
        deleteLater();
      }
    } else if (event->type() == QEvent::Hide) {
      window->removeEventFilter(this);
      deleteLater();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QMargins m_assumed;
};

}  // namespace

void CenterDialog(QWidget* window) {
  // The whole frame is centred. Before the window is shown its own frame is unknown: the
  // owner's, or the last one seen, stands in, and the window is centred again once shown
  // should its frame turn out otherwise.
  QMargins frame = KnownFrameMargins(window);
  if (frame.isNull()) {
    QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    frame = KnownFrameMargins(owner);
    if (frame.isNull()) frame = g_lastFrameMargins;
    if (!window->isVisible()) new CentreAgainWhenFramed(window, frame);
  }
  MoveCentred(window, frame);
}

void FocusFirstTabStop(const std::vector<QWidget*>& controls) {
  for (QWidget* control : controls) {
    if ((control->property("controlStyle").toUInt() & QM_WS_TABSTOP) && control->isEnabled()) {
      control->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}
