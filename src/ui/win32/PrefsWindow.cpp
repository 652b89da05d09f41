#include "ui/win32/PrefsWindow.h"

#include <commctrl.h>
#include <commdlg.h>

#include <utility>
#include <vector>

#include "desktop/MainWindow.h"
#include "desktop/WideText_win.h"
#include "midi/MidiServices.h"
#include "midi/OutputStream.h"
#include "settings/BuildConfig.h"
#include "settings/DataFiles.h"
#include "settings/PrefsDlg.h"
#include "settings/ProfileStore.h"
#include "settings/RecentFileList.h"
#include "ui/DialogTables.h"
#include "ui/PrefsRules.h"
#include "ui/win32/Dialog.h"

namespace {

// The dialog's buffers for the file and its folder, terminating null included.
constexpr std::size_t kFileBufferLength = MAX_PATH;

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return WideToUtf8(text);
}

void SetText(HWND window, const std::string& text) { SetWindowTextW(window, Utf8ToWide(text).c_str()); }

FileOpenDialogFunction& InstalledFileOpenDialog() {
  static FileOpenDialogFunction installed;
  return installed;
}

std::optional<std::string> PlatformFileOpenDialog(const FileOpenRequest& request) {
  std::wstring file(kFileBufferLength, L'\0');
  const std::wstring initial = Utf8ToWide(request.initialFile);
  if (initial.size() < kFileBufferLength) file.replace(0, initial.size(), initial);
  std::wstring directory = Utf8ToWide(request.initialDirectory);
  if (directory.size() >= kFileBufferLength) directory.clear();
  // Name, pattern, each ended by a null, and a null after the last pair.
  std::wstring filter = Utf8ToWide(request.filterName);
  filter.push_back(L'\0');
  filter += Utf8ToWide(request.filterPattern);
  filter.push_back(L'\0');
  const std::wstring title = Utf8ToWide(request.title);
  const std::wstring extension = Utf8ToWide(request.defaultExtension);

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = request.owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(kFileBufferLength);
  dialog.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
  dialog.lpstrTitle = title.c_str();
  dialog.Flags = request.flags;
  dialog.lpstrDefExt = extension.c_str();
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  return WideToUtf8(std::wstring_view(file.c_str()));
}

}  // namespace

// The window of one showing: template 103, with the control objects the settings holder
// attaches to, and the output list's items in the combo box's order.
class PrefsWindow final : public CDialog {
 public:
  PrefsWindow(CPrefsDlg& prefs, HWND owner) : CDialog(PrefsTemplate(), owner), m_prefs(prefs) {}

  HWND Item(int id) const { return GetDlgItem(id); }

  // Lists the outputs afresh, keeping the selected choice and the stored one.
  void FillOutputs(const std::vector<OutputChoice>& keep) {
    std::vector<std::string> labels;
    std::string virtualLabel;
    if (MidiServices* services = StreamLibServices()) {
      labels = OutDeviceLabels(*services);
      virtualLabel = services->VirtualOutputLabel();
    }
    m_outputs = ListOutputs(std::move(labels), keep, virtualLabel);
    m_cbMidiOut->ResetContent();
    for (const OutputItem& item : m_outputs) m_cbMidiOut->AddString(item.text);
  }

  void RefreshOutputs() {
    const OutputChoice stored{m_prefs.m_nMidiOutDevice, m_prefs.m_strMidiOutDeviceName};
    OutputChoice shown = stored;
    const bool selected = ChoiceOfItem(m_outputs, m_cbMidiOut->GetCurSel(), shown);
    FillOutputs({stored, shown});
    m_cbMidiOut->SetCurSel(OutputItemFor(m_outputs, selected ? shown : stored));
  }

  bool m_bInExchange = false;
  std::optional<CComboBox> m_cbMidiOut;
  std::optional<CComboBox> m_cbMidiIn;
  std::optional<CComboBox> m_cbBackground;
  std::optional<CSpinButtonCtrl> m_spinChannel;
  std::optional<CSpinButtonCtrl> m_spinDeviceId;
  std::vector<OutputItem> m_outputs;

 protected:
  BOOL OnInitDialog() override {
    m_cbMidiOut.emplace(Item(IDC_MIDI_OUT));
    m_cbMidiIn.emplace(Item(IDC_MIDI_IN));
    m_cbBackground.emplace(Item(IDC_BACKGROUND));
    m_spinChannel.emplace(Item(IDC_SPIN_CHANNEL));
    m_spinDeviceId.emplace(Item(IDC_SPIN_DEVICE_ID));
    return m_prefs.OnInitDialog() ? TRUE : FALSE;
  }

  BOOL OnCommand(WPARAM wParam, LPARAM) override {
    const int id = LOWORD(wParam);
    const unsigned code = HIWORD(wParam);
    // The framework withholds control notifications while the window's own exchange runs.
    if (code == EN_UPDATE && id == IDC_MIDI_CHANNEL) {
      if (!m_bInExchange) m_prefs.OnChannelUpdate();
    } else if (code == EN_UPDATE && id == IDC_DEVICE_ID) {
      if (!m_bInExchange) m_prefs.OnDeviceIdUpdate();
    } else if (code == BN_CLICKED && id == IDC_BROWSE) {
      m_prefs.OnBrowseBackground();
    } else if (code == CBN_DROPDOWN && id == IDC_MIDI_OUT) {
      // Outputs come and go while the window is up: the list is taken afresh as it drops.
      RefreshOutputs();
    } else if (id == IDOK) {
      m_prefs.OnOK();
    } else if (id == IDCANCEL) {
      m_prefs.OnCancel();
    } else {
      return FALSE;
    }
    return TRUE;
  }

 private:
  CPrefsDlg& m_prefs;
};

int CComboBox::AddString(const std::string& text) {
  return static_cast<int>(SendMessageW(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(text).c_str())));
}

int CComboBox::GetCount() const { return static_cast<int>(SendMessageW(m_hWnd, CB_GETCOUNT, 0, 0)); }

int CComboBox::GetCurSel() const { return static_cast<int>(SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0)); }

void CComboBox::SetCurSel(int index) {
  SendMessageW(m_hWnd, CB_SETCURSEL, index >= 0 && index < GetCount() ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1),
               0);
}

void CComboBox::ResetContent() { SendMessageW(m_hWnd, CB_RESETCONTENT, 0, 0); }

std::string CComboBox::GetWindowText() const { return WindowText(m_hWnd); }

void CComboBox::SetWindowText(const std::string& text) { SetText(m_hWnd, text); }

void CSpinButtonCtrl::SetRangePacked(unsigned packed) { SendMessageW(m_hWnd, UDM_SETRANGE, 0, static_cast<LPARAM>(packed)); }

FileOpenDialogFunction InstallFileOpenDialog(FileOpenDialogFunction function) {
  return std::exchange(InstalledFileOpenDialog(), std::move(function));
}

std::optional<std::string> RunFileOpenDialog(const FileOpenRequest& request) {
  const FileOpenDialogFunction& installed = InstalledFileOpenDialog();
  return installed ? installed(request) : PlatformFileOpenDialog(request);
}

int CPrefsDlg::DoModal() {
  PrefsWindow window(*this, static_cast<HWND>(m_pParentWnd ? m_pParentWnd : GetMainWindow()));
  m_pWindow = &window;
  const INT_PTR result = window.DoModal();
  m_pRecentBackgrounds.reset();
  m_cbMidiOut = m_cbMidiIn = m_cbBackground = nullptr;
  m_spinChannel = m_spinDeviceId = nullptr;
  m_pWindow = nullptr;
  return result == IDOK ? QM_IDOK : QM_IDCANCEL;
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
bool FailField(PrefsWindow& window, HWND field, const std::string& text) {
  CurrentUserSeams().ShowMessageBox(window.GetSafeHwnd(), text, kAppTitle, QM_MB_ICONEXCLAMATION | QM_MB_OK);
  SetFocus(field);
  SendMessageW(field, EM_SETSEL, 0, -1);
  return false;
}

bool ExchangeByte(PrefsWindow& window, int id, std::uint8_t& value, bool bSave, int nMin, int nMax) {
  HWND field = window.Item(id);
  if (!bSave) {
    SetText(field, std::to_string(value));
    return true;
  }
  std::uint8_t read = 0;
  if (!ReadByte(WindowText(field), read)) return FailField(window, field, kByteRangeText);
  value = read;
  if (read < nMin || read > nMax) return FailField(window, field, IntegerBetweenText(nMin, nMax));
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
    window.m_cbMidiOut->SetCurSel(OutputItemFor(window.m_outputs, {device, name}));
    return;
  }
  OutputChoice choice;
  if (!ChoiceOfItem(window.m_outputs, window.m_cbMidiOut->GetCurSel(), choice)) return;
  device = choice.device;
  name = choice.name;
}

// Clamps a field to its limits; an empty field is left alone by the lower limit 0 only.
void Clamp(HWND field, long long nMin, long long nMax) {
  const long long value = DialogItemInt(WindowText(field));
  if (value < nMin) {
    SetText(field, std::to_string(nMin));
  } else if (value > nMax) {
    SetText(field, std::to_string(nMax));
  }
}

}  // namespace

bool CPrefsDlg::DoDataExchange(bool bSaveAndValidate) {
  if (!m_pWindow) return false;
  PrefsWindow& window = *m_pWindow;

  m_cbBackground = &*window.m_cbBackground;
  if (bSaveAndValidate) {
    m_strBackground = m_cbBackground->GetWindowText();
  } else {
    m_cbBackground->SetWindowText(m_strBackground);
  }
  ExchangeSelection(*window.m_cbMidiIn, m_nMidiInDevice, bSaveAndValidate);
  ExchangeOutput(window, m_nMidiOutDevice, m_strMidiOutDeviceName, bSaveAndValidate);
  if (!ExchangeByte(window, IDC_MIDI_CHANNEL, m_nMidiChannel, bSaveAndValidate, 1, 16)) return false;
  if (!ExchangeByte(window, IDC_DEVICE_ID, m_nTargetDeviceId, bSaveAndValidate, 0, 99)) return false;

  m_cbMidiOut = &*window.m_cbMidiOut;
  m_cbMidiIn = &*window.m_cbMidiIn;
  m_spinChannel = &*window.m_spinChannel;
  m_spinDeviceId = &*window.m_spinDeviceId;

  HWND release = window.Item(IDC_RELEASE);
  if (bSaveAndValidate) {
    m_bReleaseOnDeactivate = SendMessageW(release, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
  } else {
    if (m_bReleaseOnDeactivate < 0 || m_bReleaseOnDeactivate > 2) m_bReleaseOnDeactivate = 0;
    // A two-state box: the third state, 2, shows as checked and counts as set.
    SendMessageW(release, BM_SETCHECK, m_bReleaseOnDeactivate != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
  }

  if (bSaveAndValidate && !m_strBackground.empty() && !IsUsableBackground(m_strBackground)) {
    CurrentUserSeams().ShowMessageBox(window.GetSafeHwnd(), kInvalidBackgroundText, kAppTitle, QM_MB_OK);
    SetFocus(release);
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
  if (m_pWindow) m_pWindow->EndDialog(IDOK);
}

void CPrefsDlg::OnCancel() {
  m_pRecentBackgrounds.reset();
  if (m_pWindow) m_pWindow->EndDialog(IDCANCEL);
}

void CPrefsDlg::OnDeviceIdUpdate() {
  if (m_pWindow) Clamp(m_pWindow->Item(IDC_DEVICE_ID), 0, 99);
}

void CPrefsDlg::OnChannelUpdate() {
  if (m_pWindow) Clamp(m_pWindow->Item(IDC_MIDI_CHANNEL), 1, 16);
}

void CPrefsDlg::OnBrowseBackground() {
  if (!m_pWindow) return;
  FileOpenRequest request{m_pWindow->GetSafeHwnd(),
                          kSelectBitmapTitle,
                          kBitmapFilterName,
                          kBitmapFilterPattern,
                          kBitmapExtension,
                          m_strBackground,
                          BrowseDirectory(m_strBackground),
                          OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY};
  // The dialog's buffer holds 259 characters and the null: a longer path seeds nothing.
  if (Utf8ToWide(request.initialFile).size() >= kFileBufferLength) request.initialFile.clear();
  if (const std::optional<std::string> chosen = RunFileOpenDialog(request)) m_strBackground = FullPath(*chosen);
  if (m_cbBackground) m_cbBackground->SetWindowText(m_strBackground);
}
