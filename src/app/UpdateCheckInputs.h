// The version check's inputs from the settings holder, the version record and the
// profile, the same for every front end.
#pragma once

#include "update/UpdateSeams.h"

class AppVersionCheckInputs final : public VersionCheckInputs {
 public:
  std::string Hostname() override;
  std::string VersionFile() override;
  std::string OwnProductVersion() override;
  std::string ReadDownloadUrl() override;
  OwnerWindow MainWindow() override;
};
