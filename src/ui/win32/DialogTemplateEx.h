// Turns a shared dialog template into the dialog manager's in-memory extended template
// (DLGTEMPLATEEX and one DLGITEMTEMPLATEEX per control), for CreateDialogIndirectParamW.
#pragma once

#include <windows.h>

#include <vector>

#include "ui/DialogTemplate.h"

// The template's window styles, captions in UTF-16, the dialog font and the controls in
// template (tab) order, each a visible or hidden child window of its class with the
// template's styles. The menu is not part of it: the dialog manager loads menus only from
// resources (see BuildMenu). The vector's storage is suitably aligned for the template.
std::vector<DWORD> BuildDialogTemplateEx(const DialogTemplate& dialog);

// The window class name of a control kind, as the dialog manager knows it.
const wchar_t* ControlClassName(ControlClass kind);
