// The version check's seams over Qt and the settings: posting to the Qt event loop, the
// override wait cursor, and the inputs from the settings holder and the profile.
#pragma once

#include "update/UpdateSeams.h"

class QtUiThreadInvoker final : public UiThreadInvoker {
 public:
  void PostToUiThread(std::function<void()> task) override;
};

class QtWaitCursor final : public WaitCursor {
 public:
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
};

class AppVersionCheckInputs final : public VersionCheckInputs {
 public:
  std::string Hostname() override;
  std::string VersionFile() override;
  std::string OwnProductVersion() override;
  std::string ReadDownloadUrl() override;
  OwnerWindow MainWindow() override;
};
