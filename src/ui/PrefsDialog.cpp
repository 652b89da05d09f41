// The settings holder's dialog methods, the same for every front end: they drive the
// Preferences window through PrefsWindow, which each toolkit implements. DoModal, which
// makes the toolkit's window, lives with the toolkit.
#include <memory>
#include <utility>

#include "midi/MidiServices.h"
#include "midi/OutputStream.h"
#include "settings/BuildConfig.h"
#include "settings/DataFiles.h"
#include "settings/PrefsDlg.h"
#include "settings/ProfileStore.h"
#include "settings/RecentFileList.h"
#include "ui/DialogTables.h"
#include "ui/PrefsRules.h"
#include "ui/PrefsWindow.h"

void PrefsWindow::FillOutputs(const std::vector<OutputChoice>& keep) {
  std::vector<std::string> labels;
  std::string virtualLabel;
  if (MidiServices* services = StreamLibServices()) {
    labels = OutDeviceLabels(*services);
    virtualLabel = services->VirtualOutputLabel();
  }
  m_outputs = ListOutputs(std::move(labels), keep, virtualLabel);
  CComboBox& box = MidiOut();
  box.ResetContent();
  for (std::size_t i = 0; i < m_outputs.size(); ++i) {
    box.AddString(m_outputs[i].text);
    if (m_outputs[i].kind == OutputItemKind::None) box.DisableItem(static_cast<int>(i));
  }
}

void PrefsWindow::RefreshOutputs(const OutputChoice& stored) {
  OutputChoice shown = stored;
  const bool selected = ChoiceOfItem(m_outputs, MidiOut().GetCurSel(), shown);
  FillOutputs({stored, shown});
  MidiOut().SetCurSel(OutputItemFor(m_outputs, selected ? shown : stored));
}

bool CPrefsDlg::OnInitDialog() {
  UpdateData(false);

  m_pRecentBackgrounds = std::make_unique<CRecentFileList>(0, kRecentBackgroundsSection, "File%d", 10);
  m_pRecentBackgrounds->ReadList();
  // Every slot is checked once; a removed slot's successor moves into its place.
  for (int checked = 0, i = 0; checked < m_pRecentBackgrounds->GetSize(); ++checked) {
    const std::string& path = (*m_pRecentBackgrounds)[i];
    if (!IsUsableBackground(path)) {
      m_pRecentBackgrounds->Remove(i);
    } else {
      m_cbBackground->AddString(path);
      ++i;
    }
  }

  if (MidiServices* services = StreamLibServices()) {
    std::string name;
    for (unsigned device = 0; device < kMaxListedDevices && services->InDeviceName(device, name); ++device) {
      m_cbMidiIn->AddString(name);
    }
  }
  m_pWindow->FillOutputs({{m_nMidiOutDevice, m_strMidiOutDeviceName}});

  m_spinChannel->SetRangePacked(kChannelRange);
  m_spinDeviceId->SetRangePacked(kDeviceIdRange);

  UpdateData(false);
  m_pWindow->CenterWindow();
  return true;
}

bool CPrefsDlg::UpdateData(bool bSaveAndValidate) {
  if (!m_pWindow) return false;
  const bool withheld = std::exchange(m_pWindow->m_bInExchange, true);
  const bool ok = DoDataExchange(bSaveAndValidate);
  m_pWindow->m_bInExchange = withheld;
  return ok;
}

namespace {

// A refused field: the framework's box, then the focus on the field with its text selected.
bool FailField(PrefsWindow& window, int id, const std::string& text) {
  CurrentUserSeams().ShowMessageBox(window.Owner(), text, kAppTitle, QM_MB_ICONEXCLAMATION | QM_MB_OK);
  window.FocusItem(id, true);
  return false;
}

bool ExchangeByte(PrefsWindow& window, int id, std::uint8_t& value, bool bSave, int nMin, int nMax) {
  if (!bSave) {
    window.SetItemText(id, std::to_string(value));
    return true;
  }
  std::uint8_t read = 0;
  if (!ReadByte(window.GetItemText(id), read)) return FailField(window, id, kByteRangeText);
  value = read;
  if (read < nMin || read > nMax) return FailField(window, id, IntegerBetweenText(nMin, nMax));
  return true;
}

void ExchangeSelection(CComboBox& list, std::int32_t& index, bool bSave) {
  if (bSave) {
    index = list.GetCurSel();
  } else {
    list.SetCurSel(index);
  }
}

// The output's number and name together. A save with no choice selected (a stored number
// past the list, or no outputs at all) keeps both as they are.
void ExchangeOutput(PrefsWindow& window, std::int32_t& device, std::string& name, bool bSave) {
  if (!bSave) {
    window.MidiOut().SetCurSel(OutputItemFor(window.Outputs(), {device, name}));
    return;
  }
  OutputChoice choice;
  if (!ChoiceOfItem(window.Outputs(), window.MidiOut().GetCurSel(), choice)) return;
  device = choice.device;
  name = choice.name;
}

// Brings a field back inside its limits; text that is not a number reads as 0.
void Clamp(PrefsWindow& window, int id, long long nMin, long long nMax) {
  const long long value = DialogItemInt(window.GetItemText(id));
  if (value < nMin) {
    window.SetItemText(id, std::to_string(nMin));
  } else if (value > nMax) {
    window.SetItemText(id, std::to_string(nMax));
  }
}

}  // namespace

bool CPrefsDlg::DoDataExchange(bool bSaveAndValidate) {
  if (!m_pWindow) return false;
  PrefsWindow& window = *m_pWindow;

  m_cbBackground = &window.Background();
  if (bSaveAndValidate) {
    m_strBackground = m_cbBackground->GetWindowText();
  } else {
    m_cbBackground->SetWindowText(m_strBackground);
  }
  ExchangeSelection(window.MidiIn(), m_nMidiInDevice, bSaveAndValidate);
  ExchangeOutput(window, m_nMidiOutDevice, m_strMidiOutDeviceName, bSaveAndValidate);
  if (!ExchangeByte(window, IDC_MIDI_CHANNEL, m_nMidiChannel, bSaveAndValidate, 1, 16)) return false;
  if (!ExchangeByte(window, IDC_DEVICE_ID, m_nTargetDeviceId, bSaveAndValidate, 0, 99)) return false;

  m_cbMidiOut = &window.MidiOut();
  m_cbMidiIn = &window.MidiIn();
  m_spinChannel = &window.ChannelSpin();
  m_spinDeviceId = &window.DeviceIdSpin();

  if (bSaveAndValidate) {
    m_bReleaseOnDeactivate = window.IsChecked(IDC_RELEASE) ? 1 : 0;
  } else {
    if (m_bReleaseOnDeactivate < 0 || m_bReleaseOnDeactivate > 2) m_bReleaseOnDeactivate = 0;
    // A two-state box: the third state, 2, shows as checked and counts as set.
    window.SetChecked(IDC_RELEASE, m_bReleaseOnDeactivate != 0);
  }

  if (bSaveAndValidate && !m_strBackground.empty() && !IsUsableBackground(m_strBackground)) {
    CurrentUserSeams().ShowMessageBox(window.Owner(), kInvalidBackgroundText, kAppTitle, QM_MB_OK);
    window.FocusItem(IDC_RELEASE, false);
    return false;
  }
  return true;
}

void CPrefsDlg::OnOK() {
  if (!UpdateData(true)) return;
  if (m_pRecentBackgrounds) {
    // The list keeps full paths: the file where it was found, not the current folder's.
    m_pRecentBackgrounds->Add(FindDataFile(m_strBackground));
    m_pRecentBackgrounds->WriteList();
  }
  SaveSettings();
  m_pRecentBackgrounds.reset();
  if (m_pWindow) m_pWindow->EndDialog(QM_IDOK);
}

void CPrefsDlg::OnCancel() {
  m_pRecentBackgrounds.reset();
  if (m_pWindow) m_pWindow->EndDialog(QM_IDCANCEL);
}

void CPrefsDlg::OnDeviceIdUpdate() {
  if (m_pWindow) Clamp(*m_pWindow, IDC_DEVICE_ID, 0, 99);
}

void CPrefsDlg::OnChannelUpdate() {
  if (m_pWindow) Clamp(*m_pWindow, IDC_MIDI_CHANNEL, 1, 16);
}

void CPrefsDlg::OnBrowseBackground() {
  if (!m_pWindow) return;
  // The folder keeps its separator; a bare file name leaves the platform's default.
  if (const std::optional<std::string> chosen = m_pWindow->BrowseForBitmap(m_strBackground, BrowseDirectory(m_strBackground))) {
    m_strBackground = FullPath(*chosen);
  }
  if (m_cbBackground) m_cbBackground->SetWindowText(m_strBackground);
}
