// The front-panel keys: one row per key, in the panel's tab order. A key value is the
// virtual-key code of its keyboard key; the command path maps a button's control ID to
// its key value, since the two differ for several keys.
#pragma once

#include <array>
#include <string_view>

// Virtual-key codes of the keys in the table.
inline constexpr unsigned QM_VK_RETURN = 0x0D;
inline constexpr unsigned QM_VK_UP = 0x26;
inline constexpr unsigned QM_VK_DOWN = 0x28;
inline constexpr unsigned QM_VK_NUMPAD0 = 0x60;
inline constexpr unsigned QM_VK_SUBTRACT = 0x6D;
inline constexpr unsigned QM_VK_DECIMAL = 0x6E;
inline constexpr unsigned QM_VK_F1 = 0x70;
inline constexpr unsigned kKeyValueE = 0x45;  // E also selects the ent row

struct KeyRow {
  std::string_view name;     // as typed on the command line: "prog", "1", "point", "F1"...
  std::string_view caption;  // button caption, '&' before the mnemonic
  unsigned controlId;
  unsigned keyValue;
  std::string_view keyCode;  // two hexadecimal digits; empty for reset
  std::string_view accessibleName;
};

inline constexpr std::array<KeyRow, 26> kKeyTable = {{
    {"prog", "&prog", 80, 0x50, "07", "prog"},
    {"func", "&func", 70, 0x46, "06", "func"},
    {"para", "p&ara", 65, 0x41, "05", "para"},
    {"1", "&1", 97, QM_VK_NUMPAD0 + 1, "11", "1"},
    {"2", "&2", 98, QM_VK_NUMPAD0 + 2, "12", "2"},
    {"3", "&3", 99, QM_VK_NUMPAD0 + 3, "13", "3"},
    {"4", "&4", 100, QM_VK_NUMPAD0 + 4, "14", "4"},
    {"5", "&5", 101, QM_VK_NUMPAD0 + 5, "15", "5"},
    {"6", "&6", 102, QM_VK_NUMPAD0 + 6, "16", "6"},
    {"7", "&7", 103, QM_VK_NUMPAD0 + 7, "17", "7"},
    {"8", "&8", 104, QM_VK_NUMPAD0 + 8, "18", "8"},
    {"9", "&9", 105, QM_VK_NUMPAD0 + 9, "19", "9"},
    {"point", "&.", 110, QM_VK_DECIMAL, "1A", "point"},
    {"0", "&0", 96, QM_VK_NUMPAD0, "10", "0"},
    {"minus", "&-", 78, QM_VK_SUBTRACT, "1B", "minus"},
    {"up", "/\\", 107, QM_VK_UP, "0A", "up"},
    {"down", "\\/", 109, QM_VK_DOWN, "0B", "down"},
    {"cxl", "c&xl", 88, 0x58, "0D", "cxl"},
    {"ent", "&ent", 69, QM_VK_RETURN, "0C", "ent"},
    {"reset", "&reset", 79, 0x52, "", "reset"},
    {"byp", "&byp", 66, 0x42, "09", "byp"},
    {"level", "&level", 76, 0x4C, "08", "level"},
    {"F1", "F1", 112, QM_VK_F1, "01", "F1"},
    {"F2", "F2", 113, QM_VK_F1 + 1, "02", "F2"},
    {"F3", "F3", 114, QM_VK_F1 + 2, "03", "F3"},
    {"F4", "F4", 115, QM_VK_F1 + 3, "04", "F4"},
}};

// Null when the value, ID or name belongs to no key.
const KeyRow* FindKeyByValue(unsigned keyValue);
const KeyRow* FindKeyByControlId(unsigned controlId);
const KeyRow* FindKeyByName(std::string_view name);

// Builds the row's message (the reset message for reset) and hands it to the transmit
// port. Returns the port's answer: 1 when all bytes were accepted.
int SendKey(const KeyRow& row);
