// The settings holder: every setting of the program, loaded from the per-user profile
// when the object is constructed and saved when the Preferences window's OK succeeds and
// again when the object is destroyed. The same object is the Preferences window, which
// exists only while it is shown. One object lives for the whole run, reached through
// g_pPrefsDlg; the other parts read its fields directly, and only the Preferences window
// writes them. User-interface thread, except that m_strHostname and m_strVersionFile,
// fixed after construction, may be read from the version check.
#pragma once

#include <cstdint>
#include <string>

#include "midi/UserSeams.h"

class ProfileStore;

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
  // Writes "Background" first; when that fails, tells the user "Could not write to
  // registry." and writes nothing else. Otherwise writes the five integer settings,
  // whose results are not checked.
  void SaveSettings();
  // The background bitmap's path, or null when there is none. Valid until the path
  // next changes.
  const char* GetBackgroundPath() const;
  // "Quillmark version 1.0.0.0" from the own version record ("Comments" appended), or
  // the executable's full path when there is no record.
  void BuildVersionText();

 private:
  OwnerWindow m_pParentWnd;

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
  std::int32_t m_bReleaseOnDeactivate;  // "DisengageOnMinimize"; non-zero: set
  std::uint8_t m_nTargetDeviceId;       // "TargetDeviceID", 0..99 when entered here
  std::uint8_t m_nMidiChannel;          // "MIDI Channel", 1..16 when entered here

  // The Preferences window's MIDI lists and up-down controls go here.

  std::string m_strBackground;  // "Background"; empty: no background

  // The background list and the recent-backgrounds list go here.
};

// The settings holder of the run; not owning. Set it with SetPrefsDlg.
extern CPrefsDlg* g_pPrefsDlg;
// Sets g_pPrefsDlg. While it is non-null, the MIDI side reads "MIDI Output Device" and
// "TargetDeviceID" from its fields at the moment it uses them.
void SetPrefsDlg(CPrefsDlg* pPrefsDlg);
