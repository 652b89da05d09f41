#include "ui/qt/PanelDlg.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>
#include <qdrawutil.h>

#include "settings/DataFiles.h"
#include "settings/PrefsDlg.h"
#include "midi/KeyPathCounters.h"
#include "midi/MidiXmit.h"
#include "remote/KeyTable.h"
#include "ui/CommandRouting.h"
#include "ui/DialogTables.h"
#include "ui/qt/DialogBuilder.h"
#include "ui/qt/PanelIcon.h"

namespace {

// The client area: paints the panel's background.
class PanelClient final : public QWidget {
 public:
  PanelClient(CPanelDlg* panel, QWidget* parent) : QWidget(parent), m_panel(panel) {
    setAutoFillBackground(true);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    m_panel->OnEraseBkgnd(painter, rect());
  }

 private:
  CPanelDlg* m_panel;
};

QChar Mnemonic(const QString& caption) {
  const int at = caption.indexOf(QLatin1Char('&'));
  return at >= 0 && at + 1 < caption.size() ? caption.at(at + 1).toLower() : QChar();
}

}  // namespace

unsigned VirtualKeyFromQt(int key, Qt::KeyboardModifiers modifiers) {
  const bool keypad = modifiers & Qt::KeypadModifier;
  if (key >= Qt::Key_0 && key <= Qt::Key_9) {
    return static_cast<unsigned>(key - Qt::Key_0) + (keypad ? QM_VK_NUMPAD0 : 0x30u);
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return 0x41u + static_cast<unsigned>(key - Qt::Key_A);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return QM_VK_F1 + static_cast<unsigned>(key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return QM_VK_RETURN;
    case Qt::Key_Up: return QM_VK_UP;
    case Qt::Key_Down: return QM_VK_DOWN;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Period: return keypad ? QM_VK_DECIMAL : 0xBE;
    case Qt::Key_Comma: return keypad ? QM_VK_DECIMAL : 0xBC;  // keypad decimal key of some layouts
    case Qt::Key_Minus: return keypad ? QM_VK_SUBTRACT : 0xBD;
    case Qt::Key_Plus: return keypad ? 0x6B : 0xBB;
    case Qt::Key_Asterisk: return keypad ? 0x6A : 0;
    case Qt::Key_Slash: return keypad ? 0x6F : 0xBF;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Clear: return 0x0C;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    default: return 0;
  }
}

std::vector<QPoint> TilePositions(QSize client, QSize bitmap) {
  std::vector<QPoint> positions;
  if (bitmap.width() <= 0 || bitmap.height() <= 0) return positions;
  for (int y = 1; y < client.height(); y += bitmap.height()) {
    for (int x = 1; x < client.width(); x += bitmap.width()) positions.emplace_back(x, y);
  }
  return positions;
}

CPanelDlg::CPanelDlg(QWidget* pParent) : QDialog(pParent), m_hIcon(LoadPanelIcon()) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromLatin1(PanelTemplate().caption));
  setFont(DialogFont(PanelTemplate()));
  setObjectName(QStringLiteral("panel"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  m_menuBar = new QMenuBar(this);
  m_menuBar->setNativeMenuBar(false);
  QMenu* menu = nullptr;
  for (const MenuItem& item : Menu129()) {
    if (!menu || menu->title() != QLatin1String(item.menu)) menu = m_menuBar->addMenu(QString::fromLatin1(item.menu));
    QAction* action = menu->addAction(QString::fromLatin1(item.item));
    action->setData(item.id);
    connect(action, &QAction::triggered, this, [this, id = item.id] { OnCommand(id, 0); });
  }
  layout->setMenuBar(m_menuBar);

  const DialogBaseUnits units = BaseUnitsFor(font());
  m_client = new PanelClient(this, this);
  m_client->setFixedSize(units.ToPixels(0, 0, PanelTemplate().width, PanelTemplate().height).size());
  layout->addWidget(m_client);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  for (QWidget* widget : BuildControls(m_client, PanelTemplate(), units)) {
    auto* button = qobject_cast<QPushButton*>(widget);
    if (!button) continue;
    const unsigned id = static_cast<unsigned>(button->property("controlId").toInt());
    if (const KeyRow* row = FindKeyByControlId(id)) {
      button->setAccessibleName(QString::fromLatin1(row->accessibleName.data(),
                                                    static_cast<qsizetype>(row->accessibleName.size())));
    }
    connect(button, &QPushButton::clicked, this, [this, id, button] {
      OnCommand(id | (QM_BN_CLICKED << 16), reinterpret_cast<std::intptr_t>(button));
    });
    m_buttons.push_back(button);
  }
  move(PanelTemplate().x, PanelTemplate().y);
  qApp->installEventFilter(this);
  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState state) { OnActivateApp(state == Qt::ApplicationActive); });
}

CPanelDlg::~CPanelDlg() { qApp->removeEventFilter(this); }

void CPanelDlg::OnInitDialog() {
  setWindowIcon(m_hIcon);
  LoadBackground();
  if (QWidget* first = Control(80)) first->setFocus(Qt::OtherFocusReason);
}

int CPanelDlg::DoModal() {
  OnInitDialog();
  return exec() == QDialog::Accepted ? 1 : 2;
}

QWidget* CPanelDlg::Control(unsigned id) const {
  return m_client->findChild<QWidget*>(QStringLiteral("control%1").arg(id));
}

bool CPanelDlg::OnPanelKey(unsigned nKey, bool bFromKeyboard) {
  const KeyRow* row = FindKeyByValue(nKey);
  if (!row) return false;
  m_nLastSendResult = SendKey(*row);
  if (bFromKeyboard) {
    // As from the keyboard, so the style shows the focus cue.
    if (QWidget* button = Control(row->controlId)) button->setFocus(Qt::TabFocusReason);
  }
  return true;
}

bool CPanelDlg::BaseOnCommand(unsigned id) {
  if (id == 1) {
    accept();
    return true;
  }
  if (id == 2) {
    reject();
    return true;
  }
  CCmdTarget* app = AppCommandTarget();
  return app && app->OnCmdMsg(id);
}

bool CPanelDlg::OnCommand(std::uint32_t wParam, std::intptr_t) {
  const bool handled = BaseOnCommand(wParam & 0xFFFF);
  if (const KeyRow* row = FindKeyByControlId(wParam & 0xFFFF)) {
    CountKeyPath(TheKeyPathCounters().commandKeys);
    OnPanelKey(row->keyValue, false);
  }
  return handled;
}

bool CPanelDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && PreTranslateMessage(watched, static_cast<QKeyEvent*>(event))) {
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

bool CPanelDlg::PreTranslateMessage(QObject* receiver, QKeyEvent* event) {
  // Only keys for the panel itself or one of its controls: other windows (Preferences,
  // About, message boxes) handle their own keys. An open menu or other popup takes every
  // key, as does the menu bar while it is in keyboard mode; an open menu also hands keys
  // it has no use for to the menu bar, which is one of the panel's children.
  auto* widget = qobject_cast<QWidget*>(receiver);
  if (!widget || (widget != this && !isAncestorOf(widget))) return false;
  // Counted where the keyboard delivers first; a key nobody takes goes on to the parents.
  if (widget == QApplication::focusWidget() || (!QApplication::focusWidget() && widget == this)) {
    CountKeyPath(TheKeyPathCounters().keyEvents);
  }
  if (QApplication::activePopupWidget()) return false;
  if (widget == m_menuBar || m_menuBar->isAncestorOf(widget)) return false;
  // Keys held with Alt are system keys (menu and button mnemonics); they pass.
  if (event->modifiers() & Qt::AltModifier) return false;
  const unsigned key = VirtualKeyFromQt(event->key(), event->modifiers());
  if (key != 0 && OnPanelKey(key, true)) {
    CountKeyPath(TheKeyPathCounters().keyboardKeys);
    return true;
  }
  return IsDialogMessage(event);
}

bool CPanelDlg::IsDialogMessage(QKeyEvent* event) {
  // The dialog manager presses a button whose mnemonic is typed without Alt; the desktop
  // toolkit only does so with Alt.
  if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
  const QString text = event->text();
  if (text.size() != 1 || !text.at(0).isPrint() || text.at(0).isSpace()) return false;
  const QChar typed = text.at(0).toLower();
  for (QPushButton* button : m_buttons) {
    if (button->isVisible() && button->isEnabled() && Mnemonic(button->text()) == typed) {
      button->click();
      return true;
    }
  }
  return false;
}

void CPanelDlg::LoadBackground() {
  const char* path = g_pPrefsDlg ? g_pPrefsDlg->GetBackgroundPath() : nullptr;
  if (path && m_strBackgroundPath == path) return;
  m_hBackground = QImage();
  if (!path) {
    m_strBackgroundPath.clear();
    return;
  }
  m_strBackgroundPath = path;
  // Only a Windows bitmap in a regular file counts. A relative path missing from the
  // current folder is the program's own data file, found beside the executable or in the
  // data folder. Anything else (a FIFO, a device, a folder) fails like a missing file:
  // opening a FIFO with no writer would block this thread for good.
  const QString file = QString::fromLocal8Bit(FindDataFile(path));
  if (QFileInfo(file).isFile() && m_hBackground.load(file, "BMP")) {
    m_nBkWidth = m_hBackground.width();
    m_nBkHeight = m_hBackground.height();
    m_client->update();
  }
}

bool CPanelDlg::OnEraseBkgnd(QPainter& painter, const QRect& client) {
  LoadBackground();
  if (m_strBackgroundPath.empty() || m_hBackground.isNull()) return false;  // standard background
  for (const QPoint& at : TilePositions(client.size(), {m_nBkWidth, m_nBkHeight})) {
    painter.drawImage(at, m_hBackground);
  }
  qDrawWinPanel(&painter, client, palette(), false);
  return true;
}

void CPanelDlg::OnActivateApp(bool bActive) {
  if (!bActive && g_pPrefsDlg && g_pPrefsDlg->m_bReleaseOnDeactivate && g_pMidiXmit) {
    g_pMidiXmit->ReleasePort();
  }
}
