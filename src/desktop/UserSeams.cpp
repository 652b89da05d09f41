#include "desktop/UserSeams.h"

#include <atomic>

namespace {

class SilentSeams final : public UserSeams {
 public:
  int ShowMessageBox(OwnerWindow, const std::string&, const std::string&, unsigned) override {
    return QM_IDOK;
  }
  void MessageBeep(unsigned) override {}
  bool ShellOpen(const std::string&) override { return false; }
};

SilentSeams g_silentSeams;
std::atomic<UserSeams*> g_installedSeams{nullptr};

}  // namespace

UserSeams& CurrentUserSeams() {
  UserSeams* seams = g_installedSeams.load(std::memory_order_acquire);
  return seams ? *seams : g_silentSeams;
}

UserSeams* InstallUserSeams(UserSeams* seams) {
  return g_installedSeams.exchange(seams, std::memory_order_acq_rel);
}
