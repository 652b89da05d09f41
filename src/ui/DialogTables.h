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

// Template 102: the front panel.
const DialogTemplate& PanelTemplate();
// Template 103: Preferences.
const DialogTemplate& PrefsTemplate();
// Template 100: the About box.
const DialogTemplate& AboutTemplate();

// One item of menu 129, in menu order; items of one menu follow each other.
struct MenuItem {
  const char* menu;  // '&' before the mnemonic
  const char* item;
  unsigned id;
};
std::span<const MenuItem> Menu129();
