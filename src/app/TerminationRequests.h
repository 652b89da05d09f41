// Termination requests from the desktop (logout, a kill, the console closing, the session
// ending) end the run through the usual tear-down, so the port is closed and the settings
// are saved. One implementation per platform and front end.
#pragma once

#include <functional>
#include <memory>

// Serves the requests while it lives; the requests caught are dropped once it goes.
class TerminationService {
 public:
  TerminationService() = default;
  TerminationService(const TerminationService&) = delete;
  TerminationService& operator=(const TerminationService&) = delete;
  virtual ~TerminationService() = default;
};

// Before the application object exists: starts catching the requests.
void CatchTerminationRequests();
// Once the front end's event loop can run: `onTerminate` is called on the user-interface
// thread for each request caught.
std::unique_ptr<TerminationService> ServeTerminationRequests(std::function<void()> onTerminate);
