// Dialog templates as tables in dialog units, shared by the front ends, each of which has
// one builder that turns them into windows. A dialog unit is a quarter of the dialog
// font's average character width across and an eighth of its character height down, so a
// template keeps its proportions whatever font the desktop substitutes.
#pragma once

#include <span>

// Window and control styles, with the values of the original templates.
namespace dlgstyle {
inline constexpr unsigned QM_WS_POPUP = 0x80000000;
inline constexpr unsigned QM_WS_CHILD = 0x40000000;
inline constexpr unsigned QM_WS_MINIMIZEBOX = 0x00020000;
inline constexpr unsigned QM_WS_CAPTION = 0x00C00000;
inline constexpr unsigned QM_WS_SYSMENU = 0x00080000;
inline constexpr unsigned QM_WS_EX_APPWINDOW = 0x00040000;
inline constexpr unsigned QM_DS_SETFONT = 0x40;
inline constexpr unsigned QM_DS_MODALFRAME = 0x80;
inline constexpr unsigned QM_WS_GROUP = 0x00020000;
inline constexpr unsigned QM_WS_TABSTOP = 0x00010000;
inline constexpr unsigned QM_WS_DISABLED = 0x08000000;
inline constexpr unsigned QM_WS_VISIBLE = 0x10000000;
inline constexpr unsigned QM_WS_VSCROLL = 0x00200000;
inline constexpr unsigned QM_WS_BORDER = 0x00800000;
inline constexpr unsigned QM_BS_DEFPUSHBUTTON = 0x1;
inline constexpr unsigned QM_BS_AUTOCHECKBOX = 0x3;
inline constexpr unsigned QM_SS_LEFT = 0x0;
inline constexpr unsigned QM_SS_CENTER = 0x1;
inline constexpr unsigned QM_ES_CENTER = 0x1;
inline constexpr unsigned QM_ES_AUTOHSCROLL = 0x80;
inline constexpr unsigned QM_ES_READONLY = 0x800;
inline constexpr unsigned QM_ES_NUMBER = 0x2000;
inline constexpr unsigned QM_CBS_DROPDOWN = 0x2;
inline constexpr unsigned QM_CBS_DROPDOWNLIST = 0x3;
inline constexpr unsigned QM_CBS_AUTOHSCROLL = 0x40;
inline constexpr unsigned QM_UDS_SETBUDDYINT = 0x2;
inline constexpr unsigned QM_UDS_ALIGNRIGHT = 0x4;
inline constexpr unsigned QM_UDS_AUTOBUDDY = 0x10;
inline constexpr unsigned QM_UDS_ARROWKEYS = 0x20;
}  // namespace dlgstyle

enum class ControlClass { PushButton, CheckBox, Static, Edit, ComboBox, UpDown };

struct ControlTemplate {
  int id;  // -1 for none
  ControlClass kind;
  const char* text;
  int x, y, width, height;  // dialog units
  unsigned style;
};

struct DialogTemplate {
  int resourceId;
  const char* caption;
  int x, y, width, height;  // dialog units
  const char* fontFamily;
  int fontPoints;
  std::span<const ControlTemplate> controls;
  unsigned style;    // the dialog window's styles
  unsigned exStyle;  // and extended styles
  int menuId;        // the menu bar's resource, 0 for none
};
