// Dialog templates as tables in dialog units, and the one builder that turns them into
// widgets. A dialog unit is a quarter of the dialog font's average character width
// across and an eighth of its character height down, so a template keeps its proportions
// whatever font the desktop substitutes.
#pragma once

#include <QFont>
#include <QRect>
#include <span>
#include <vector>

class QDialog;
class QWidget;

// Window and control styles, with the values of the original templates.
namespace dlgstyle {
inline constexpr unsigned WS_CHILD = 0x40000000;
inline constexpr unsigned WS_GROUP = 0x00020000;
inline constexpr unsigned WS_TABSTOP = 0x00010000;
inline constexpr unsigned WS_DISABLED = 0x08000000;
inline constexpr unsigned WS_VISIBLE = 0x10000000;
inline constexpr unsigned WS_VSCROLL = 0x00200000;
inline constexpr unsigned WS_BORDER = 0x00800000;
inline constexpr unsigned BS_DEFPUSHBUTTON = 0x1;
inline constexpr unsigned BS_AUTOCHECKBOX = 0x3;
inline constexpr unsigned SS_LEFT = 0x0;
inline constexpr unsigned SS_CENTER = 0x1;
inline constexpr unsigned ES_CENTER = 0x1;
inline constexpr unsigned ES_AUTOHSCROLL = 0x80;
inline constexpr unsigned ES_READONLY = 0x800;
inline constexpr unsigned ES_NUMBER = 0x2000;
inline constexpr unsigned CBS_DROPDOWN = 0x2;
inline constexpr unsigned CBS_DROPDOWNLIST = 0x3;
inline constexpr unsigned CBS_AUTOHSCROLL = 0x40;
inline constexpr unsigned UDS_SETBUDDYINT = 0x2;
inline constexpr unsigned UDS_ALIGNRIGHT = 0x4;
inline constexpr unsigned UDS_AUTOBUDDY = 0x10;
inline constexpr unsigned UDS_ARROWKEYS = 0x20;
}  // namespace dlgstyle

enum class ControlClass { PushButton, CheckBox, Static, Edit, ComboBox, UpDown };

struct ControlTemplate {
  int id;  // -1 for none
  ControlClass kind;
  const char* text;
  int x, y, width, height;  // dialog units
  unsigned style;
};

struct DialogTemplate {
  int resourceId;
  const char* caption;
  int x, y, width, height;  // dialog units
  const char* fontFamily;
  int fontPoints;
  std::span<const ControlTemplate> controls;
};

// Pixels per dialog unit for a font.
struct DialogBaseUnits {
  double perUnitX;
  double perUnitY;
  QRect ToPixels(int x, int y, int width, int height) const;
};
DialogBaseUnits BaseUnitsFor(const QFont& font);

// The template's font, or the desktop's nearest match.
QFont DialogFont(const DialogTemplate& dialog);

// Creates every control of the template as a child of parent, in template (tab) order,
// with its object name "control<id>" (or "static<n>"), geometry, text, enabled and
// visible state and tab stop, and the template's style in the property "controlStyle".
// Digits-only edits accept only typed digits; read-only edits sit on the dialog's face.
// A static text with a mnemonic gives the focus to the next control of the template; an
// up-down control with the auto-buddy style takes the edit field just before it as its
// buddy. Returns the widget created for each control, in order.
std::vector<QWidget*> BuildControls(QWidget* parent, const DialogTemplate& dialog,
                                    const DialogBaseUnits& units);

// Makes dialog a fixed-size modal-frame window with caption bar and system menu in the
// template's caption, font and size, and builds its controls (BuildControls).
std::vector<QWidget*> BuildDialog(QDialog* dialog, const DialogTemplate& dialog_template);

// Centres a window on its parent window when that is shown, else on the work area of the
// screen, and keeps it inside that work area.
void CenterDialog(QWidget* window);

// Gives the focus to the first enabled control with a tab stop, in template order.
void FocusFirstTabStop(const std::vector<QWidget*>& controls);
