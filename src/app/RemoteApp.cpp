#include "app/RemoteApp.h"

#include <optional>

#include "app/MainWindow.h"
#include "app/PrefsDlg.h"
#include "app/QtUiPoster.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/UserSeams.h"
#include "midi/backends/MidiBackends.h"
#include "ui/AboutDlg.h"
#include "ui/PanelDlg.h"

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

  // The profile store is rooted at the company key by default.
  SetPrefsDlg(new CPrefsDlg());
  if (g_pPrefsDlg->m_bFirstRun) g_pPrefsDlg->DoModal();
  g_pMidiXmit = new CMidiXmit();

  std::optional<CPanelDlg> panel;
  panel.emplace();
  m_pMainWnd = &*panel;
  SetMainWindow(&*panel);
  panel->DoModal();
  SetMainWindow(nullptr);
  m_pMainWnd = nullptr;

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

void CRemoteApp::OnCheckForUpdates() {}

void CRemoteApp::OnAbout() {
  CAboutDlg dlgAbout;
  dlgAbout.DoModal();
}
