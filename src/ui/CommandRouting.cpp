#include "ui/CommandRouting.h"

namespace {
CCmdTarget* g_appTarget = nullptr;  // user-interface thread only
}

CCmdTarget* AppCommandTarget() { return g_appTarget; }

void SetAppCommandTarget(CCmdTarget* target) { g_appTarget = target; }
