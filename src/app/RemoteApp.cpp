#include "app/RemoteApp.h"

#include <QApplication>
#include <QDialog>
#include <optional>

#include "desktop/MainWindow.h"
#include "settings/PrefsDlg.h"
#include "app/qt/QtUiPoster.h"
#include "app/qt/UpdateCheckSeams.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "desktop/UserSeams.h"
#include "midi/backends/MidiBackends.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/PanelDlg.h"
#include "update/VersionCheck.h"

CRemoteApp theApp;

CRemoteApp::CRemoteApp() { SetAppCommandTarget(this); }

CRemoteApp::~CRemoteApp() {
  if (AppCommandTarget() == this) SetAppCommandTarget(nullptr);
}

void CRemoteApp::UseMidiServices(MidiServices* services, UiPosterFactory* posters) {
  m_services = services;
  m_posters = posters;
}

bool CRemoteApp::InitInstance() {
  std::unique_ptr<MidiServices> platformServices;
  QtUiPosterFactory qtPosters;
  MidiServices* services = m_services;
  if (!services) {
    platformServices = CreateMidiServices();
    services = platformServices.get();
  }
  StreamLibInit(services, m_posters ? m_posters : &qtPosters);
  m_terminating = false;

  // The profile store is rooted at the company key by default.
  SetPrefsDlg(new CPrefsDlg());
  if (g_pPrefsDlg->m_bFirstRun) g_pPrefsDlg->DoModal();
  g_pMidiXmit = new CMidiXmit();

  QtUiThreadInvoker invoker;
  QtWaitCursor waitCursor;
  AppVersionCheckInputs updateInputs;
  std::optional<VersionCheck> versionCheck;
  versionCheck.emplace(updateInputs, invoker, waitCursor, m_updatePort);
  m_versionCheck = &*versionCheck;

  std::optional<CPanelDlg> panel;
  panel.emplace();
  m_pMainWnd = &*panel;
  SetMainWindow(&*panel);
  if (!m_terminating) panel->DoModal();
  SetMainWindow(nullptr);
  m_pMainWnd = nullptr;
  // A check still waiting for its server shows nothing more and reads nothing of ours.
  versionCheck->Shutdown();
  m_versionCheck = nullptr;

  delete g_pMidiXmit;  // releases the device while the engine still runs
  g_pMidiXmit = nullptr;
  CPrefsDlg* prefs = g_pPrefsDlg;
  SetPrefsDlg(nullptr);
  delete prefs;  // saves the settings once more
  StreamLibExit();
  panel.reset();
  return false;
}

bool CRemoteApp::OnCmdMsg(unsigned id) {
  switch (id) {
    case ID_FILE_PREFERENCES: OnPreferences(); return true;
    case ID_FILE_EXIT: OnExit(); return true;
    case ID_HELP_WEBSITE: OnWebsite(); return true;
    case ID_HELP_CHECKFORUPDATES: OnCheckForUpdates(); return true;
    case ID_APP_ABOUT: OnAbout(); return true;
    default: return false;
  }
}

void CRemoteApp::OnPreferences() {
  if (g_pMidiXmit) g_pMidiXmit->ReleasePort();
  if (g_pPrefsDlg) g_pPrefsDlg->DoModal();
  if (m_pMainWnd) m_pMainWnd->Client()->update();
}

void CRemoteApp::OnExit() {
  if (m_pMainWnd) m_pMainWnd->OnCommand(1, 0);
}

void CRemoteApp::OnWebsite() {
  if (g_pPrefsDlg) CurrentUserSeams().ShellOpen(g_pPrefsDlg->m_strWebsiteUrl);
}

void CRemoteApp::OnCheckForUpdates() {
  if (m_versionCheck) m_versionCheck->OnCheckForUpdates();
}

void CRemoteApp::OnTerminate() {
  m_terminating = true;
  // Each reject ends one modal loop once control returns to it; a bound keeps a dialog
  // that refuses to close from holding us here.
  for (int i = 0; i < 16; ++i) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) break;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
  }
  if (m_pMainWnd) m_pMainWnd->reject();
}

void CRemoteApp::OnAbout() {
  CAboutDlg dlgAbout;
  dlgAbout.DoModal();
}
