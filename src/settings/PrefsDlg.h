// The settings holder: every setting of the program, loaded from the per-user profile
// when the object is constructed and saved when the Preferences window's OK succeeds and
// again when the object is destroyed. The same object is the Preferences window, which
// exists only while it is shown. One object lives for the whole run, reached through
// g_pPrefsDlg; the other parts read its fields directly, and only the Preferences window
// writes them. User-interface thread, except that m_strHostname and m_strVersionFile,
// fixed after construction, may be read from the version check.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "desktop/UserSeams.h"

class ProfileStore;
class CComboBox;
class CSpinButtonCtrl;
class CRecentFileList;
class PrefsWindow;

class CPrefsDlg {
 public:
  static constexpr int IDD = 103;

  // Loads the settings from CurrentProfileStore() and builds the version text, the
  // mailto link and the website address. pParent owns the window when it is shown; null
  // for the application's main window, or none before there is one.
  explicit CPrefsDlg(OwnerWindow pParent = nullptr);
  CPrefsDlg(const CPrefsDlg&) = delete;
  CPrefsDlg& operator=(const CPrefsDlg&) = delete;
  // Saves the settings, changed or not.
  virtual ~CPrefsDlg();

  void LoadSettings();
  // Writes "Background" first; when that fails, tells the user why (the profile store's
  // WriteFailureText: the file and the system's reason, or on Windows "Could not write to
  // registry.") and writes nothing else. Otherwise writes the five integer settings, and
  // the output's name right after its number; those results are not checked.
  void SaveSettings();
  // From now on a failed save is told on standard error instead of in a message box: for
  // the save at the end of a run that a termination request ended, when nobody may be
  // there to close a box and the desktop is waiting for the program to end.
  void ReportSaveFailuresOnStandardError() { m_bFailuresToStandardError = true; }
  // The background bitmap's path, or null when there is none. Valid until the path
  // next changes.
  const char* GetBackgroundPath() const;
  // "Quillmark version 1.0.0.0" from the own version record ("Comments" appended), or
  // the executable's full path when there is no record.
  void BuildVersionText();

  // The Preferences window. Each showing creates the window anew on this object, owned by
  // the parent given at construction, else by the main window, else by none (then it is
  // centred on the screen). Returns QM_IDOK or QM_IDCANCEL; the settings change only through
  // the window's save exchange and its browse button.
  int DoModal();
  // Prepares a new window: a first load, the recent backgrounds read and checked, the
  // MIDI device lists, the up-down ranges, the second load, centring. Returns true: the
  // focus goes to the first enabled tab stop.
  bool OnInitDialog();
  // Runs the data exchange with the window's own notifications withheld, so the live
  // clamps never see loaded values. False when a save exchange failed.
  bool UpdateData(bool bSaveAndValidate = true);
  // One direction per call: load (settings to controls) or save (controls to settings,
  // with checks). A failing save has told the user why, put the focus on the control at
  // fault and returns false; the settings exchanged before the failing step keep their
  // new values.
  bool DoDataExchange(bool bSaveAndValidate);
  // OK and Enter: save exchange, the background into the recent list, the list and the
  // settings to the profile, then the window closes. A failed exchange keeps it open.
  void OnOK();
  // Cancel, Escape and the close box: closes without any exchange or write.
  void OnCancel();
  // Live clamps of the channel (1..16) and device ID (0..99) fields after each change by
  // the user or an up-down control.
  void OnChannelUpdate();
  void OnDeviceIdUpdate();
  // The "..." button: a file-open dialog seeded from m_strBackground; a chosen file
  // becomes m_strBackground (full path). Either way the background field then shows it.
  void OnBrowseBackground();

 private:
  OwnerWindow m_pParentWnd;
  PrefsWindow* m_pWindow;  // the window while it is shown, else null
  bool m_bFailuresToStandardError = false;

 public:
  ProfileStore* m_pApp;      // the profile all reads and writes go to
  std::int32_t m_bFirstRun;  // no MIDI channel was stored
  std::string m_strWebsiteUrl;
  std::string m_strMailtoUrl;
  std::string m_strHostname;     // "Hostname"
  std::string m_strVersionFile;  // "VersionFile"
  std::string m_strVersionText;
  std::int32_t m_nMidiInDevice;         // "MIDI Input Device", -1: none
  std::int32_t m_nMidiOutDevice;        // "MIDI Output Device", -1: none (the virtual port)
  // "MIDI Output Device Name": the output's label in the device list; when not empty it
  // decides over m_nMidiOutDevice, whose place in the list may have changed.
  std::string m_strMidiOutDeviceName;
  std::int32_t m_bReleaseOnDeactivate;  // "DisengageOnMinimize"; non-zero: set
  std::uint8_t m_nTargetDeviceId;       // "TargetDeviceID", 0..99 when entered here
  std::uint8_t m_nMidiChannel;          // "MIDI Channel", 1..16 when entered here

  // The Preferences window's controls: attached by the first data exchange of each
  // showing, owned by the window, null while no window is shown.
  CComboBox* m_cbMidiOut;        // 1004
  CComboBox* m_cbMidiIn;         // 1003
  CSpinButtonCtrl* m_spinChannel;   // 1002
  CSpinButtonCtrl* m_spinDeviceId;  // 1006

  std::string m_strBackground;  // "Background"; empty: no background

  CComboBox* m_cbBackground;  // 1017
  // The recent backgrounds, from OnInitDialog until the window closes; null otherwise.
  std::unique_ptr<CRecentFileList> m_pRecentBackgrounds;
};

// The settings holder of the run; not owning. Set it with SetPrefsDlg.
extern CPrefsDlg* g_pPrefsDlg;
// Sets g_pPrefsDlg. While it is non-null, the MIDI side reads "MIDI Output Device", its
// name and "TargetDeviceID" from its fields at the moment it uses them.
void SetPrefsDlg(CPrefsDlg* pPrefsDlg);
