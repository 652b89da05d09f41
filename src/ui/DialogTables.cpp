#include "ui/DialogTables.h"

#include <array>
#include <cstddef>

#include "desktop/UserSeams.h"
#include "settings/BuildConfig.h"
#include "ui/CommandRouting.h"

using namespace dlgstyle;

namespace {

constexpr unsigned kKey = QM_WS_VISIBLE | QM_WS_TABSTOP;

constexpr std::array<ControlTemplate, 28> kPanelControls = {{
    {80, ControlClass::PushButton, "&prog", 5, 5, 20, 13, kKey},
    {70, ControlClass::PushButton, "&func", 5, 30, 20, 13, kKey},
    {65, ControlClass::PushButton, "p&ara", 5, 56, 20, 13, kKey},
    {IDC_SPIN1, ControlClass::UpDown, "Spin1", 40, 14, 9, 42, QM_UDS_ARROWKEYS},
    {97, ControlClass::PushButton, "&1", 63, 5, 13, 13, kKey},
    {98, ControlClass::PushButton, "&2", 81, 5, 13, 13, kKey},
    {99, ControlClass::PushButton, "&3", 99, 5, 13, 13, kKey},
    {100, ControlClass::PushButton, "&4", 63, 22, 13, 13, kKey},
    {101, ControlClass::PushButton, "&5", 81, 22, 13, 13, kKey},
    {102, ControlClass::PushButton, "&6", 99, 22, 13, 13, kKey},
    {103, ControlClass::PushButton, "&7", 63, 39, 13, 13, kKey},
    {104, ControlClass::PushButton, "&8", 81, 39, 13, 13, kKey},
    {105, ControlClass::PushButton, "&9", 99, 39, 13, 13, kKey},
    {110, ControlClass::PushButton, "&.", 63, 56, 13, 13, kKey},
    {96, ControlClass::PushButton, "&0", 81, 56, 13, 13, kKey},
    {78, ControlClass::PushButton, "&-", 99, 56, 13, 13, kKey},
    {107, ControlClass::PushButton, "/\\", 117, 5, 13, 13, kKey},
    {109, ControlClass::PushButton, "\\/", 117, 22, 13, 13, kKey},
    {88, ControlClass::PushButton, "c&xl", 117, 39, 13, 13, kKey},
    {69, ControlClass::PushButton, "&ent", 117, 56, 13, 13, kKey},
    {79, ControlClass::PushButton, "&reset", 147, 5, 20, 13, kKey},
    {66, ControlClass::PushButton, "&byp", 147, 56, 20, 13, kKey},
    {76, ControlClass::PushButton, "&level", 5, 80, 20, 13, kKey},
    {112, ControlClass::PushButton, "F1", 37, 80, 19, 13, kKey},
    {113, ControlClass::PushButton, "F2", 63, 80, 19, 13, kKey},
    {114, ControlClass::PushButton, "F3", 89, 80, 19, 13, kKey},
    {115, ControlClass::PushButton, "F4", 115, 80, 19, 13, kKey},
    {1, ControlClass::PushButton, "&Quit", 147, 80, 20, 13, kKey | QM_BS_DEFPUSHBUTTON},
}};

constexpr DialogTemplate kPanelTemplate = {
    IDD_PANEL, "Quillmark", 0, 0, 172, 98, "MS Sans Serif", 8, kPanelControls,
    QM_WS_POPUP | QM_WS_VISIBLE | QM_WS_CAPTION | QM_WS_SYSMENU | QM_WS_MINIMIZEBOX | QM_DS_MODALFRAME | QM_DS_SETFONT,
    QM_WS_EX_APPWINDOW, IDR_MENU129};

#ifdef _WIN32
constexpr std::size_t kMenuItems = 5;  // the Windows build has no remote server
#else
constexpr std::size_t kMenuItems = 6;
#endif
constexpr std::array<MenuItem, kMenuItems> kMenu129 = {{
    {"&File", "&Preferences...", ID_FILE_PREFERENCES},
#ifndef _WIN32
    {"&File", "&Remote control...", ID_FILE_REMOTE},
#endif
    {"&File", "E&xit", ID_FILE_EXIT},
    {"&Help", "&Website", ID_HELP_WEBSITE},
    {"&Help", "&Check for updates", ID_HELP_CHECKFORUPDATES},
    {"&Help", "About Quillmark...", ID_APP_ABOUT},
}};

constexpr unsigned kChild = QM_WS_CHILD | QM_WS_VISIBLE;
constexpr unsigned kSpin = QM_UDS_SETBUDDYINT | QM_UDS_ALIGNRIGHT | QM_UDS_AUTOBUDDY | QM_UDS_ARROWKEYS;

constexpr std::array<ControlTemplate, 16> kPrefsControls = {{
    {-1, ControlClass::Static, "&MIDI Channel", 5, 7, 47, 10, kChild | QM_SS_LEFT | QM_WS_GROUP},
    {IDC_MIDI_CHANNEL, ControlClass::Edit, "", 55, 5, 32, 12,
     kChild | QM_WS_DISABLED | QM_WS_BORDER | QM_WS_TABSTOP | QM_ES_NUMBER | QM_ES_CENTER},
    {IDC_SPIN_CHANNEL, ControlClass::UpDown, "Spin1", 89, 5, 9, 13, kChild | QM_WS_DISABLED | QM_WS_TABSTOP | kSpin},
    {-1, ControlClass::Static, "&Device ID", 115, 7, 47, 10, kChild | QM_SS_LEFT | QM_WS_GROUP},
    {IDC_DEVICE_ID, ControlClass::Edit, "", 165, 5, 32, 12,
     kChild | QM_WS_BORDER | QM_WS_TABSTOP | QM_ES_NUMBER | QM_ES_CENTER},
    {IDC_SPIN_DEVICE_ID, ControlClass::UpDown, "Spin1", 199, 5, 9, 13, kChild | QM_WS_TABSTOP | kSpin},
    {-1, ControlClass::Static, "MIDI &Input", 5, 20, 40, 8, kChild | QM_SS_LEFT},
    {IDC_MIDI_IN, ControlClass::ComboBox, "", 5, 30, 100, 133,
     kChild | QM_WS_DISABLED | QM_CBS_DROPDOWNLIST | QM_WS_VSCROLL | QM_WS_TABSTOP},
    {-1, ControlClass::Static, "MIDI &Output", 115, 20, 40, 8, kChild | QM_SS_LEFT},
    {IDC_MIDI_OUT, ControlClass::ComboBox, "", 115, 30, 100, 128,
     kChild | QM_CBS_DROPDOWNLIST | QM_WS_VSCROLL | QM_WS_TABSTOP},
    {IDC_RELEASE, ControlClass::CheckBox, "&Release MIDI out port when application focus is lost", 5, 51, 179, 10,
     kChild | QM_BS_AUTOCHECKBOX | QM_WS_TABSTOP},
    {-1, ControlClass::Static, "&Background Image", 5, 66, 60, 8, kChild | QM_SS_LEFT | QM_WS_GROUP},
    {IDC_BACKGROUND, ControlClass::ComboBox, "", 5, 75, 190, 72,
     kChild | QM_CBS_DROPDOWN | QM_CBS_AUTOHSCROLL | QM_WS_VSCROLL | QM_WS_TABSTOP},
    {IDC_BROWSE, ControlClass::PushButton, "&...", 198, 76, 17, 11, kChild | QM_WS_TABSTOP},
    {QM_IDOK, ControlClass::PushButton, "OK", 225, 5, 45, 14, kChild | QM_BS_DEFPUSHBUTTON | QM_WS_TABSTOP},
    {QM_IDCANCEL, ControlClass::PushButton, "Cancel", 225, 22, 45, 14, kChild | QM_WS_TABSTOP},
}};

// Popup, caption bar, system menu, modal frame, set-font: 0x80C800C0.
constexpr unsigned kModalDialogStyle = QM_WS_POPUP | QM_WS_CAPTION | QM_WS_SYSMENU | QM_DS_MODALFRAME | QM_DS_SETFONT;

constexpr DialogTemplate kPrefsTemplate = {IDD_PREFERENCES, "Preferences", 10, 66, 275, 92, "MS Sans Serif", 8,
                                           kPrefsControls, kModalDialogStyle, 0, 0};

template <std::size_t A, std::size_t B>
constexpr std::array<char, A + B - 1> Join(const char (&first)[A], const char (&second)[B]) {
  std::array<char, A + B - 1> joined{};
  for (std::size_t i = 0; i + 1 < A; ++i) joined[i] = first[i];
  for (std::size_t i = 0; i < B; ++i) joined[A - 1 + i] = second[i];
  return joined;
}

constexpr auto kContactLine = Join(kContactEmail, "\nWritten by the Quillmark developers");

constexpr unsigned kCentredStatic = QM_WS_CHILD | QM_WS_VISIBLE | QM_WS_GROUP | QM_SS_CENTER;  // 0x50020001

// The credit for the toolkits the program is built on.
#if defined(_WIN32)
constexpr char kCreditMidi[] = "MIDI: the Windows multimedia system";
constexpr char kCreditUi[] = "User interface: the Win32 dialog manager";
#else
constexpr char kCreditMidi[] = "MIDI: JACK and ALSA sequencer libraries";
constexpr char kCreditUi[] = "User interface: the Qt 6 toolkit";
#endif

constexpr std::array<ControlTemplate, 5> kAboutControls = {{
    {IDC_CONTACT_LINK, ControlClass::Static, kContactLine.data(), 8, 20, 165, 16, kCentredStatic},
    {-1, ControlClass::Static, kCreditMidi, 9, 40, 164, 9, kCentredStatic},
    {-1, ControlClass::Static, kCreditUi, 14, 49, 152, 8, kCentredStatic},
    {QM_IDOK, ControlClass::PushButton, "OK", 65, 62, 50, 14,
     QM_WS_CHILD | QM_WS_VISIBLE | QM_WS_TABSTOP | QM_BS_DEFPUSHBUTTON},
    {IDC_VERSION_TEXT, ControlClass::Edit, "", 23, 5, 136, 12,
     QM_WS_CHILD | QM_WS_VISIBLE | QM_WS_TABSTOP | QM_ES_READONLY | QM_ES_CENTER},
}};

constexpr DialogTemplate kAboutTemplate = {IDD_ABOUTBOX, "About Quillmark", 19, 37, 182, 79, "MS Sans Serif", 8,
                                           kAboutControls, kModalDialogStyle, 0, 0};
static_assert(kModalDialogStyle == 0x80C800C0);

constexpr unsigned kTab = QM_WS_CHILD | QM_WS_VISIBLE | QM_WS_TABSTOP;
constexpr unsigned kField = kTab | QM_WS_BORDER | QM_ES_AUTOHSCROLL;

constexpr std::array<ControlTemplate, 13> kRemoteControls = {{
    {IDC_REMOTE_PAGE, ControlClass::CheckBox, "&Serve the remote page at TCP port", 7, 8, 150, 10,
     kTab | QM_BS_AUTOCHECKBOX | QM_WS_GROUP},
    {IDC_REMOTE_PORT, ControlClass::Edit, "", 160, 7, 40, 12, kField | QM_ES_NUMBER},
    {IDC_REMOTE_OSC, ControlClass::CheckBox, "Take &OSC at UDP port", 7, 24, 150, 10, kTab | QM_BS_AUTOCHECKBOX},
    {IDC_REMOTE_OSC_PORT, ControlClass::Edit, "", 160, 23, 40, 12, kField | QM_ES_NUMBER},
    {-1, ControlClass::Static, "OSC from &hosts:", 7, 41, 60, 10, QM_WS_CHILD | QM_WS_VISIBLE | QM_SS_LEFT},
    {IDC_REMOTE_OSC_HOSTS, ControlClass::Edit, "", 70, 39, 153, 12, kField},
    {-1, ControlClass::Static, "&Address to open:", 7, 57, 80, 10, QM_WS_CHILD | QM_WS_VISIBLE | QM_SS_LEFT},
    {IDC_REMOTE_ADDRESS, ControlClass::Edit, "", 7, 68, 216, 12, kTab | QM_ES_READONLY | QM_ES_AUTOHSCROLL},
    {IDC_REMOTE_QR, ControlClass::Static, "", 7, 85, 72, 72, QM_WS_CHILD | QM_WS_VISIBLE | QM_SS_CENTER},
    {IDC_REMOTE_STATUS, ControlClass::Static, "", 85, 85, 138, 52, QM_WS_CHILD | QM_WS_VISIBLE | QM_SS_LEFT},
    {IDC_REMOTE_NEW_TOKEN, ControlClass::PushButton, "&New token", 85, 143, 60, 14, kTab},
    {QM_IDOK, ControlClass::PushButton, "OK", 119, 164, 50, 14, kTab | QM_BS_DEFPUSHBUTTON},
    {QM_IDCANCEL, ControlClass::PushButton, "Cancel", 173, 164, 50, 14, kTab},
}};

constexpr DialogTemplate kRemoteTemplate = {IDD_REMOTE, "Remote control", 0, 0, 230, 185, "MS Sans Serif", 8,
                                            kRemoteControls, kModalDialogStyle, 0, 0};

}  // namespace

const DialogTemplate& PanelTemplate() { return kPanelTemplate; }

const DialogTemplate& RemoteTemplate() { return kRemoteTemplate; }

const DialogTemplate& PrefsTemplate() { return kPrefsTemplate; }

const DialogTemplate& AboutTemplate() { return kAboutTemplate; }

std::span<const MenuItem> Menu129() { return kMenu129; }
