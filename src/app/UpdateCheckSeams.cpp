#include "app/UpdateCheckSeams.h"

#include <QApplication>
#include <QMetaObject>

#include "desktop/MainWindow.h"
#include "settings/PrefsDlg.h"
#include "settings/ProfileStore.h"
#include "settings/VersionRecord.h"

void QtUiThreadInvoker::PostToUiThread(std::function<void()> task) {
  QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
}

void QtWaitCursor::BeginWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtWaitCursor::EndWaitCursor() { QApplication::restoreOverrideCursor(); }

std::string AppVersionCheckInputs::Hostname() { return g_pPrefsDlg ? g_pPrefsDlg->m_strHostname : std::string(); }

std::string AppVersionCheckInputs::VersionFile() {
  return g_pPrefsDlg ? g_pPrefsDlg->m_strVersionFile : std::string();
}

std::string AppVersionCheckInputs::OwnProductVersion() { return ::OwnProductVersion(); }

std::string AppVersionCheckInputs::ReadDownloadUrl() { return ::ReadDownloadUrl(); }

OwnerWindow AppVersionCheckInputs::MainWindow() { return GetMainWindow(); }
