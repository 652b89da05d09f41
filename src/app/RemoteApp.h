// The application object: brings the program up in a fixed order, runs the front panel
// as a modal dialog for the whole run, and takes everything down again in a fixed order
// when the panel ends. It also handles the five commands of the panel's menu. The order
// is the same for every front end; what needs the toolkit it asks of the front end.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/CommandRouting.h"

class FrontEnd;
class MidiServices;
class UiPosterFactory;
class CPanelDlg;
class VersionCheck;

class CRemoteApp final : public CCmdTarget {
 public:
  CRemoteApp();
  ~CRemoteApp() override;

  // The device services and poster factory the engine runs on (not owned). Without
  // them InitInstance uses the platform's MIDI transports and the front end's posters.
  void UseMidiServices(MidiServices* services, UiPosterFactory* posters);

  // Runs the whole program; returns false always (there is no loop of its own after it).
  bool InitInstance();

  bool OnCmdMsg(unsigned id) override;
  void OnPreferences();
  void OnExit();
  void OnWebsite();
  void OnCheckForUpdates();
  void OnAbout();
  // File, Remote control...: the window of the page for phones and of OSC.
  void OnRemoteControl();

  // Ends the run as Quit would, from wherever it stands: every open dialog is left,
  // innermost first, and the usual tear-down follows (the settings are saved). For a
  // termination request from the desktop (logout, kill).
  void OnTerminate();

  // The version server's port for the update check (80 unless a test says otherwise).
  void UseUpdatePort(std::uint16_t port) { m_updatePort = port; }

  // The main window while the panel runs, else null.
  CPanelDlg* m_pMainWnd = nullptr;

 private:
  MidiServices* m_services = nullptr;
  UiPosterFactory* m_posters = nullptr;
  std::uint16_t m_updatePort = 80;
  FrontEnd* m_frontEnd = nullptr;          // lives inside InitInstance
  VersionCheck* m_versionCheck = nullptr;  // lives inside InitInstance
  bool m_terminating = false;
};

extern CRemoteApp theApp;
