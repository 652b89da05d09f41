#include "settings/PrefsDlg.h"

#include <cstdio>

#include "settings/BuildConfig.h"
#include "desktop/MainWindow.h"
#include "settings/ProfileStore.h"
#include "settings/RecentFileList.h"
#include "settings/VersionRecord.h"
#include "midi/SettingsAccess.h"

CPrefsDlg* g_pPrefsDlg = nullptr;

namespace {

// The MIDI side's view of the settings: whatever g_pPrefsDlg holds when it asks.
class PrefsSettingsReader final : public SettingsReader {
 public:
  std::int32_t MidiOutDevice() const override {
    return g_pPrefsDlg ? g_pPrefsDlg->m_nMidiOutDevice : 0;
  }
  std::string MidiOutDeviceName() const override {
    return g_pPrefsDlg ? g_pPrefsDlg->m_strMidiOutDeviceName : std::string();
  }
  std::uint8_t TargetDeviceId() const override {
    return g_pPrefsDlg ? g_pPrefsDlg->m_nTargetDeviceId : 0;
  }
};

PrefsSettingsReader g_prefsReader;
SettingsReader* g_previousReader = nullptr;
bool g_readerInstalled = false;

// What "MIDI Channel" reads as when it is not stored; no channel setting has this low byte.
constexpr std::int32_t kChannelNotStored = 255;

}  // namespace

void SetPrefsDlg(CPrefsDlg* pPrefsDlg) {
  g_pPrefsDlg = pPrefsDlg;
  if (pPrefsDlg && !g_readerInstalled) {
    g_previousReader = InstallSettingsReader(&g_prefsReader);
    g_readerInstalled = true;
  } else if (!pPrefsDlg && g_readerInstalled) {
    InstallSettingsReader(g_previousReader);
    g_previousReader = nullptr;
    g_readerInstalled = false;
  }
}

CPrefsDlg::CPrefsDlg(OwnerWindow pParent)
    : m_pParentWnd(pParent),
      m_pWindow(nullptr),
      m_pApp(nullptr),
      m_bFirstRun(0),
      m_nMidiInDevice(0),
      m_nMidiOutDevice(0),
      m_bReleaseOnDeactivate(1),
      m_nTargetDeviceId(0),
      m_nMidiChannel(1),
      m_cbMidiOut(nullptr),
      m_cbMidiIn(nullptr),
      m_spinChannel(nullptr),
      m_spinDeviceId(nullptr),
      m_cbBackground(nullptr) {
  BuildVersionText();
  LoadSettings();
  m_strWebsiteUrl = kWebsiteUrl;
  m_strMailtoUrl = std::string("mailto:") + kContactEmail + "?Subject=";
  m_strMailtoUrl += m_strVersionText;
}

CPrefsDlg::~CPrefsDlg() { SaveSettings(); }

void CPrefsDlg::LoadSettings() {
  m_pApp = &CurrentProfileStore();

  m_nMidiChannel = static_cast<std::uint8_t>(
      m_pApp->ReadProfileInt(kSettingsSection, "MIDI Channel", kChannelNotStored));
  if (m_nMidiChannel == kChannelNotStored) {
    m_nMidiChannel = 1;
    m_bFirstRun = 1;
  }
  m_strBackground = m_pApp->ReadProfileString(kSettingsSection, "Background", "DarkRivets.bmp");
  m_nMidiInDevice = m_pApp->ReadProfileInt(kSettingsSection, "MIDI Input Device", 0);
  m_nMidiOutDevice = m_pApp->ReadProfileInt(kSettingsSection, "MIDI Output Device", 0);
  m_strMidiOutDeviceName = m_pApp->ReadProfileString(kSettingsSection, "MIDI Output Device Name", "");
  m_nTargetDeviceId =
      static_cast<std::uint8_t>(m_pApp->ReadProfileInt(kSettingsSection, "TargetDeviceID", 0));
  m_strVersionFile = m_pApp->ReadProfileString(kSettingsSection, "VersionFile", kDefaultVersionFile);
  m_strHostname = m_pApp->ReadProfileString(kSettingsSection, "Hostname", kDefaultHostname);
  m_bReleaseOnDeactivate = m_pApp->ReadProfileInt(kSettingsSection, "DisengageOnMinimize", 1);
}

void CPrefsDlg::SaveSettings() {
  if (!m_pApp->StoreProfileString(kSettingsSection, "Background", m_strBackground)) {
    const std::string why = m_pApp->WriteFailureText();
    if (m_bFailuresToStandardError) {
      std::fprintf(stderr, "quillmark: %s\n", why.c_str());
    } else {
      CurrentUserSeams().ShowMessageBox(GetMainWindow(), why, "Error", QM_MB_OK);
    }
    return;
  }
  m_pApp->StoreProfileInt(kSettingsSection, "MIDI Channel", m_nMidiChannel);
  m_pApp->StoreProfileInt(kSettingsSection, "TargetDeviceID", m_nTargetDeviceId);
  m_pApp->StoreProfileInt(kSettingsSection, "MIDI Input Device", m_nMidiInDevice);
  m_pApp->StoreProfileInt(kSettingsSection, "MIDI Output Device", m_nMidiOutDevice);
  // Older versions read only the number; the name beside it is what this one goes by.
  m_pApp->StoreProfileString(kSettingsSection, "MIDI Output Device Name", m_strMidiOutDeviceName);
  m_pApp->StoreProfileInt(kSettingsSection, "DisengageOnMinimize", m_bReleaseOnDeactivate);
}

const char* CPrefsDlg::GetBackgroundPath() const {
  return m_strBackground.empty() ? nullptr : m_strBackground.c_str();
}

void CPrefsDlg::BuildVersionText() {
  const std::string strExePath = OwnExecutablePath();
  const VersionRecord* record = OwnVersionRecord();
  const void* block = nullptr;
  unsigned length = 0;
  if (!record || !record->QueryValue("\\", &block, &length) || length < sizeof(VersionFixedInfo)) {
    m_strVersionText = strExePath;
    return;
  }
  m_strVersionText = kAppTitle;
  m_strVersionText += ' ';
  m_strVersionText += "version " + ProductVersionText(*static_cast<const VersionFixedInfo*>(block));

  if (record->QueryValue("\\VarFileInfo\\Translation", &block, &length) && length >= 4) {
    const std::uint32_t translation = *static_cast<const std::uint32_t*>(block);
    char name[64];
    std::snprintf(name, sizeof name, "\\StringFileInfo\\%04x%04x\\%s",
                  static_cast<unsigned>(translation & 0xFFFF),
                  static_cast<unsigned>(translation >> 16), "Comments");
    if (record->QueryValue(name, &block, &length)) {
      m_strVersionText += static_cast<const char*>(block);
    }
  }
}
