#include "app/RemoteApp.h"

#include <optional>

#include "app/FrontEnd.h"
#include "app/UpdateCheckInputs.h"
#include "desktop/MainWindow.h"
#include "desktop/UserSeams.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/backends/MidiBackends.h"
#include "settings/PrefsDlg.h"
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
  const std::unique_ptr<FrontEnd> frontEnd = CreateFrontEnd();
  m_frontEnd = frontEnd.get();
  std::unique_ptr<MidiServices> platformServices;
  MidiServices* services = m_services;
  if (!services) {
    platformServices = CreateMidiServices();
    services = platformServices.get();
  }
  StreamLibInit(services, m_posters ? m_posters : &frontEnd->Posters());
  m_terminating = false;

  // The profile store is rooted at the company key by default.
  SetPrefsDlg(new CPrefsDlg());
  if (g_pPrefsDlg->m_bFirstRun) g_pPrefsDlg->DoModal();
  g_pMidiXmit = new CMidiXmit();

  AppVersionCheckInputs updateInputs;
  std::optional<VersionCheck> versionCheck;
  versionCheck.emplace(updateInputs, frontEnd->Invoker(), frontEnd->Cursor(), m_updatePort);
  m_versionCheck = &*versionCheck;

  m_pMainWnd = &frontEnd->CreatePanel();
  if (!m_terminating) frontEnd->RunPanel(m_posters ? *m_posters : frontEnd->Posters());
  m_pMainWnd = nullptr;
  // A check still waiting for its server shows nothing more and reads nothing of ours.
  versionCheck->Shutdown();
  m_versionCheck = nullptr;

  delete g_pMidiXmit;  // releases the device while the engine still runs
  g_pMidiXmit = nullptr;
  CPrefsDlg* prefs = g_pPrefsDlg;
  SetPrefsDlg(nullptr);
  // Ended by the desktop (logout, kill): nobody may be there to close a box, and the
  // desktop waits for the end.
  if (m_terminating) prefs->ReportSaveFailuresOnStandardError();
  delete prefs;  // saves the settings once more
  StreamLibExit();
  frontEnd->DestroyPanel();
  m_frontEnd = nullptr;
  return false;
}

bool CRemoteApp::OnCmdMsg(unsigned id) {
  switch (id) {
    case ID_FILE_PREFERENCES: OnPreferences(); return true;
    case ID_FILE_REMOTE: OnRemoteControl(); return true;
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
  if (m_frontEnd && m_pMainWnd) m_frontEnd->InvalidatePanel();
}

void CRemoteApp::OnExit() {
  if (m_frontEnd && m_pMainWnd) m_frontEnd->ExitPanel();
}

void CRemoteApp::OnWebsite() {
  if (g_pPrefsDlg) CurrentUserSeams().ShellOpen(g_pPrefsDlg->m_strWebsiteUrl);
}

void CRemoteApp::OnCheckForUpdates() {
  if (m_versionCheck) m_versionCheck->OnCheckForUpdates();
}

void CRemoteApp::OnTerminate() {
  m_terminating = true;
  if (m_frontEnd) m_frontEnd->EndModalLoops();
}

void CRemoteApp::OnRemoteControl() {
  if (m_frontEnd) m_frontEnd->RunRemoteControl();
}

void CRemoteApp::OnAbout() {
  if (m_frontEnd) m_frontEnd->RunAbout();
}
