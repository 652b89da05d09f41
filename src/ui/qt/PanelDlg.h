// The main window: a dialog laid out like the unit's front panel, with the 26 key
// buttons, Quit, the File and Help menus and a tiled background bitmap. Every click and
// every mapped keyboard key sends that key's message to the unit.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/CommandRouting.h"
#include "ui/DialogTables.h"

class QKeyEvent;
class QMenuBar;
class QPainter;
class QPushButton;

// The virtual-key value of a key press as the desktop delivers it: keypad keys by their
// keypad codes, letters by their upper-case letter, the rest by their usual codes. 0 for
// keys without one.
unsigned VirtualKeyFromQt(int key, Qt::KeyboardModifiers modifiers);

// Top-left corners of the background tiles: from (1, 1), one bitmap apart, while inside
// the client area.
std::vector<QPoint> TilePositions(QSize client, QSize bitmap);

class CPanelDlg final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int IDD = IDD_PANEL;

  explicit CPanelDlg(QWidget* pParent = nullptr);
  ~CPanelDlg() override;

  // Runs the window modally; returns QM_IDOK (1) or QM_IDCANCEL (2).
  int DoModal();
  // Icon, background and first focus; DoModal runs it before the window shows.
  void OnInitDialog();

  // The key routine: sends the key's message; for keyboard keys the focus then moves to
  // the key's button. False when the value is no key of the panel.
  bool OnPanelKey(unsigned nKey, bool bFromKeyboard);
  // What the transmit port answered to the last key the routine sent: 1 when every byte
  // was accepted. For the remote page, which reports each key's fate.
  int LastSendResult() const { return m_nLastSendResult; }
  // Every command of the window: base routing first (Quit, menu), then the key routine.
  bool OnCommand(std::uint32_t wParam, std::intptr_t lParam);
  // Key pre-translation for the panel and its controls; true when consumed.
  bool PreTranslateMessage(QObject* receiver, QKeyEvent* event);

  // Brings the bitmap in line with the background setting.
  void LoadBackground();
  // Paints the client background: tiles and a raised edge, or the standard background.
  bool OnEraseBkgnd(QPainter& painter, const QRect& client);
  void OnActivateApp(bool bActive);

  QWidget* Control(unsigned id) const;
  QWidget* Client() const { return m_client; }
  QMenuBar* MenuBar() const { return m_menuBar; }
  bool HasBackground() const { return !m_hBackground.isNull(); }
  QSize BackgroundSize() const { return {m_nBkWidth, m_nBkHeight}; }
  const std::string& BackgroundPath() const { return m_strBackgroundPath; }
  const QIcon& Icon() const { return m_hIcon; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool IsDialogMessage(QKeyEvent* event);
  bool BaseOnCommand(unsigned id);

  QIcon m_hIcon;
  QImage m_hBackground;
  int m_nBkWidth = 0;
  int m_nBkHeight = 0;
  std::string m_strBackgroundPath;
  int m_nLastSendResult = 0;
  QMenuBar* m_menuBar = nullptr;
  QWidget* m_client = nullptr;
  std::vector<QPushButton*> m_buttons;
};
