// Termination requests from the desktop (logout, a kill, the console closing) end the run
// through the usual tear-down, so the port is closed and the settings are saved. One
// implementation per platform.
#pragma once

#include <functional>
#include <memory>

class QObject;

// Before the application object exists: starts catching the requests.
void CatchTerminationRequests();
// Once the event loop runs: `onTerminate` is called on the user-interface thread for each
// request caught. The returned object serves them; the requests are dropped once it goes.
std::unique_ptr<QObject> ServeTerminationRequests(std::function<void()> onTerminate);
