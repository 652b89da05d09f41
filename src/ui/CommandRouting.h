// The last stop of command routing: menu commands that no window handles go to the
// application object.
#pragma once

// Commands of menu 129.
inline constexpr unsigned ID_FILE_PREFERENCES = 32771;
inline constexpr unsigned ID_FILE_EXIT = 32772;
inline constexpr unsigned ID_HELP_WEBSITE = 32773;
inline constexpr unsigned ID_HELP_CHECKFORUPDATES = 32774;
inline constexpr unsigned ID_APP_ABOUT = 32775;
// File, Remote control...: beyond the original menu, right after Preferences.
inline constexpr unsigned ID_FILE_REMOTE = 32776;
// The notification code of a button's click, in the high 16 bits of a command.
inline constexpr unsigned QM_BN_CLICKED = 0;

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
