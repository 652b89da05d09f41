#include "desktop/MainWindow.h"

namespace {
OwnerWindow g_pMainWnd = nullptr;  // user-interface thread only
}

OwnerWindow GetMainWindow() { return g_pMainWnd; }

void SetMainWindow(OwnerWindow pMainWnd) { g_pMainWnd = pMainWnd; }
