// The Qt front end's builder of the shared dialog templates: dialog units to pixels with
// the dialog font's base units, and one widget per control.
#pragma once

#include <QFont>
#include <QRect>
#include <vector>

#include "ui/DialogTemplate.h"

class QDialog;
class QWidget;

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
