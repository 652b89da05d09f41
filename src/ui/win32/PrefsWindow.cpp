#include "ui/win32/PrefsWindow.h"

#include <commctrl.h>
#include <commdlg.h>

#include <utility>

#include "desktop/MainWindow.h"
#include "desktop/WideText_win.h"
#include "settings/PrefsDlg.h"
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

// The window of one showing: template 103, with the control objects the settings holder
// attaches to.
class Win32PrefsWindow final : public CDialog, public PrefsWindow {
 public:
  Win32PrefsWindow(CPrefsDlg& prefs, HWND owner) : CDialog(PrefsTemplate(), owner), m_prefs(prefs) {}

  CComboBox& MidiOut() override { return *m_cbMidiOut; }
  CComboBox& MidiIn() override { return *m_cbMidiIn; }
  CComboBox& Background() override { return *m_cbBackground; }
  CSpinButtonCtrl& ChannelSpin() override { return *m_spinChannel; }
  CSpinButtonCtrl& DeviceIdSpin() override { return *m_spinDeviceId; }

  std::string GetItemText(int id) const override { return WindowText(GetDlgItem(id)); }
  void SetItemText(int id, const std::string& text) override { SetText(GetDlgItem(id), text); }
  bool IsChecked(int id) const override { return SendMessageW(GetDlgItem(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void SetChecked(int id, bool checked) override {
    SendMessageW(GetDlgItem(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  void FocusItem(int id, bool selectText) override {
    SetFocus(GetDlgItem(id));
    if (selectText) SendMessageW(GetDlgItem(id), EM_SETSEL, 0, -1);
  }
  OwnerWindow Owner() override { return m_hWnd; }
  void CenterWindow() override { CDialog::CenterWindow(); }
  void EndDialog(int result) override { CDialog::EndDialog(result == QM_IDOK ? IDOK : IDCANCEL); }
  std::optional<std::string> BrowseForBitmap(const std::string& initialFile,
                                             const std::string& initialDirectory) override {
    FileOpenRequest request{m_hWnd,
                            kSelectBitmapTitle,
                            kBitmapFilterName,
                            kBitmapFilterPattern,
                            kBitmapExtension,
                            initialFile,
                            initialDirectory,
                            OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY};
    // The dialog's buffer holds 259 characters and the null: a longer path seeds nothing.
    if (Utf8ToWide(request.initialFile).size() >= kFileBufferLength) request.initialFile.clear();
    return RunFileOpenDialog(request);
  }

 protected:
  BOOL OnInitDialog() override {
    m_cbMidiOut.emplace(GetDlgItem(IDC_MIDI_OUT));
    m_cbMidiIn.emplace(GetDlgItem(IDC_MIDI_IN));
    m_cbBackground.emplace(GetDlgItem(IDC_BACKGROUND));
    m_spinChannel.emplace(GetDlgItem(IDC_SPIN_CHANNEL));
    m_spinDeviceId.emplace(GetDlgItem(IDC_SPIN_DEVICE_ID));
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
      RefreshOutputs({m_prefs.m_nMidiOutDevice, m_prefs.m_strMidiOutDeviceName});
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
  std::optional<Win32ComboBox> m_cbMidiOut;
  std::optional<Win32ComboBox> m_cbMidiIn;
  std::optional<Win32ComboBox> m_cbBackground;
  std::optional<Win32SpinButtonCtrl> m_spinChannel;
  std::optional<Win32SpinButtonCtrl> m_spinDeviceId;
};

}  // namespace

int Win32ComboBox::AddString(const std::string& text) {
  return static_cast<int>(SendMessageW(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(text).c_str())));
}

int Win32ComboBox::GetCount() const { return static_cast<int>(SendMessageW(m_hWnd, CB_GETCOUNT, 0, 0)); }

int Win32ComboBox::GetCurSel() const { return static_cast<int>(SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0)); }

void Win32ComboBox::SetCurSel(int index) {
  const bool inList = index >= 0 && index < GetCount();
  SendMessageW(m_hWnd, CB_SETCURSEL, inList ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1), 0);
}

void Win32ComboBox::ResetContent() { SendMessageW(m_hWnd, CB_RESETCONTENT, 0, 0); }

std::string Win32ComboBox::GetWindowText() const { return WindowText(m_hWnd); }

void Win32ComboBox::SetWindowText(const std::string& text) { SetText(m_hWnd, text); }

void Win32SpinButtonCtrl::SetRangePacked(unsigned packed) {
  SendMessageW(m_hWnd, UDM_SETRANGE, 0, static_cast<LPARAM>(packed));
}

FileOpenDialogFunction InstallFileOpenDialog(FileOpenDialogFunction function) {
  return std::exchange(InstalledFileOpenDialog(), std::move(function));
}

std::optional<std::string> RunFileOpenDialog(const FileOpenRequest& request) {
  const FileOpenDialogFunction& installed = InstalledFileOpenDialog();
  return installed ? installed(request) : PlatformFileOpenDialog(request);
}

int CPrefsDlg::DoModal() {
  Win32PrefsWindow window(*this, static_cast<HWND>(m_pParentWnd ? m_pParentWnd : GetMainWindow()));
  m_pWindow = &window;
  const INT_PTR result = window.DoModal();
  m_pRecentBackgrounds.reset();
  m_cbMidiOut = m_cbMidiIn = m_cbBackground = nullptr;
  m_spinChannel = m_spinDeviceId = nullptr;
  m_pWindow = nullptr;
  return result == IDOK ? QM_IDOK : QM_IDCANCEL;
}
