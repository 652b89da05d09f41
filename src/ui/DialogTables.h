// The dialog templates and the main window's menu, as data that both front ends build
// their windows from: control IDs, classes, captions, rectangles in dialog units, styles,
// in template (tab) order.
#pragma once

#include <span>

#include "ui/DialogTemplate.h"

// Dialog resources.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_PANEL = 102;
inline constexpr int IDD_PREFERENCES = 103;
inline constexpr int IDD_REMOTE = 104;
// The panel's menu bar.
inline constexpr int IDR_MENU129 = 129;

// The panel's hidden up-down control (the key buttons' IDs are the key table's).
inline constexpr int IDC_SPIN1 = 75;

// Controls of the Preferences dialog.
inline constexpr int IDC_MIDI_CHANNEL = 1001;
inline constexpr int IDC_SPIN_CHANNEL = 1002;
inline constexpr int IDC_MIDI_IN = 1003;
inline constexpr int IDC_MIDI_OUT = 1004;
inline constexpr int IDC_DEVICE_ID = 1005;
inline constexpr int IDC_SPIN_DEVICE_ID = 1006;
inline constexpr int IDC_RELEASE = 1007;
inline constexpr int IDC_BACKGROUND = 1017;
inline constexpr int IDC_BROWSE = 1019;

// Controls of the About box.
inline constexpr int IDC_CONTACT_LINK = 1005;
inline constexpr int IDC_VERSION_TEXT = 1006;

// Controls of the Remote control window.
inline constexpr int IDC_REMOTE_PAGE = 1101;
inline constexpr int IDC_REMOTE_PORT = 1102;
inline constexpr int IDC_REMOTE_OSC = 1103;
inline constexpr int IDC_REMOTE_OSC_PORT = 1104;
inline constexpr int IDC_REMOTE_OSC_HOSTS = 1105;
inline constexpr int IDC_REMOTE_ADDRESS = 1106;
inline constexpr int IDC_REMOTE_QR = 1107;
inline constexpr int IDC_REMOTE_STATUS = 1108;
inline constexpr int IDC_REMOTE_NEW_TOKEN = 1109;

// Template 102: the front panel.
const DialogTemplate& PanelTemplate();
// Template 103: Preferences.
const DialogTemplate& PrefsTemplate();
// Template 100: the About box.
const DialogTemplate& AboutTemplate();
// Template 104: Remote control (the page for phones, OSC), where the build has the remote
// server.
const DialogTemplate& RemoteTemplate();

// One item of menu 129, in menu order; items of one menu follow each other.
struct MenuItem {
  const char* menu;  // '&' before the mnemonic
  const char* item;
  unsigned id;
};
std::span<const MenuItem> Menu129();
