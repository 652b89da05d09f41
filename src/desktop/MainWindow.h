// The application's main window, as owner for boxes and dialogs that should sit on it.
// Null until the main panel window runs, and again after it has closed.
#pragma once

#include "desktop/UserSeams.h"

OwnerWindow GetMainWindow();
void SetMainWindow(OwnerWindow pMainWnd);
