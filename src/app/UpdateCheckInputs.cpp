#include "app/UpdateCheckInputs.h"

#include "desktop/MainWindow.h"
#include "settings/PrefsDlg.h"
#include "settings/ProfileStore.h"
#include "settings/VersionRecord.h"

std::string AppVersionCheckInputs::Hostname() { return g_pPrefsDlg ? g_pPrefsDlg->m_strHostname : std::string(); }

std::string AppVersionCheckInputs::VersionFile() {
  return g_pPrefsDlg ? g_pPrefsDlg->m_strVersionFile : std::string();
}

std::string AppVersionCheckInputs::OwnProductVersion() { return ::OwnProductVersion(); }

std::string AppVersionCheckInputs::ReadDownloadUrl() { return ::ReadDownloadUrl(); }

OwnerWindow AppVersionCheckInputs::MainWindow() { return GetMainWindow(); }
