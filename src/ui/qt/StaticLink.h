// A hyperlink made of an existing static text control: drawn underlined in blue, with a
// hand cursor, and handed to the desktop's "open" when the left button goes down on it.
// After a successful open it is purple for as long as the object lives. One object can
// be attached to the static of one dialog after another; it lets go of a control when
// that control is destroyed.
#pragma once

#include <QFont>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <optional>
#include <string>

class QWidget;

// A colour as 0x00BBGGRR.
using COLORREF = std::uint32_t;

class CStaticLink final : public QObject {
  Q_OBJECT

 public:
  static constexpr COLORREF unvisitedColor = 0x00FF0000;  // blue
  static constexpr COLORREF visitedColor = 0x00800080;    // purple

  // lpText: the URL, or null for none yet.
  explicit CStaticLink(const char* lpText = nullptr);
  ~CStaticLink() override;
  CStaticLink(const CStaticLink&) = delete;
  CStaticLink& operator=(const CStaticLink&) = delete;

  // Attaches to the static text "control<nID>" of pParent; false when there is none.
  bool SubclassDlgItem(int nID, QWidget* pParent);
  // The attached control, or null.
  QLabel* Control() const { return m_pControl; }

  // Handlers of the attached control's events.
  // Before the control draws its text: plain text statics (left, centred or right
  // aligned) take the underlined font and the current colour; others keep the defaults.
  // True when it set them.
  bool CtlColor();
  // The click: opens m_url, taken from the control's text when empty. A failed open
  // beeps and changes nothing else; a successful one turns the link purple.
  void OnLButtonDown();
  // Shows the hand cursor, loaded once per process; false when there is none.
  bool OnSetCursor();
  bool HasUnderlineFont() const { return m_underlineFont.has_value(); }

  std::string m_url;
  COLORREF m_textColor;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Detach();

  QPointer<QLabel> m_pControl;
  QMetaObject::Connection m_destroyed;
  std::optional<QFont> m_underlineFont;  // made at the first paint, then kept
};

// The About box's contact link; it outlives every About box.
extern CStaticLink g_aboutLink;
