// The last stop of command routing: menu commands that no window handles go to the
// application object.
#pragma once

class CCmdTarget {
 public:
  CCmdTarget() = default;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;
  virtual ~CCmdTarget() = default;
  // True when the command was handled.
  virtual bool OnCmdMsg(unsigned id) = 0;
};

// The application's command target (not owned); null when there is none.
CCmdTarget* AppCommandTarget();
void SetAppCommandTarget(CCmdTarget* target);
