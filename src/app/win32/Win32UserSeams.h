// Message boxes, beeps, the shell's "open" and the wait cursor through the Windows user
// and shell services. Owners are window handles; texts are UTF-8.
#pragma once

#include <windows.h>

#include "desktop/UserSeams.h"
#include "update/UpdateSeams.h"

class Win32UserSeams final : public UserSeams {
 public:
  // A box without an owner is modal to every window of the program (MB_TASKMODAL), so
  // that no key can be pressed behind an error box.
  int ShowMessageBox(OwnerWindow owner, const std::string& text, const std::string& caption,
                     unsigned style) override;
  void MessageBeep(unsigned type) override;
  bool ShellOpen(const std::string& target) override;
};

// The hourglass over the version check's wait; the earlier cursor comes back after it.
class Win32WaitCursor final : public WaitCursor {
 public:
  void BeginWaitCursor() override;
  void EndWaitCursor() override;

 private:
  HCURSOR m_previous = nullptr;
  int m_depth = 0;
};
