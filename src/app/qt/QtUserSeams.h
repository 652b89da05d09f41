// Message boxes, beeps and the shell's "open" through Qt. Owners are QWidget pointers.
#pragma once

#include "desktop/UserSeams.h"

class QtUserSeams final : public UserSeams {
 public:
  int ShowMessageBox(OwnerWindow owner, const std::string& text, const std::string& caption,
                 unsigned style) override;
  void MessageBeep(unsigned type) override;
  bool ShellOpen(const std::string& target) override;
};
