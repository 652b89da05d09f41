// The front-panel keys and their messages, typed in by hand from the remote-key protocol's
// tables and kept apart from the program's own key table and message class: the tests
// check the program against these, so a wrong code or checksum in either shows up.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct DesignKey {
  std::string_view key;
  std::string_view caption;
  unsigned controlId;
  unsigned keyValue;
  std::string_view code;  // empty: the reset message
};

// In the panel template's order.
inline constexpr std::array<DesignKey, 26> kDesignKeys = {{
    {"prog", "&prog", 80, 0x50, "07"},
    {"func", "&func", 70, 0x46, "06"},
    {"para", "p&ara", 65, 0x41, "05"},
    {"1", "&1", 97, 0x61, "11"},
    {"2", "&2", 98, 0x62, "12"},
    {"3", "&3", 99, 0x63, "13"},
    {"4", "&4", 100, 0x64, "14"},
    {"5", "&5", 101, 0x65, "15"},
    {"6", "&6", 102, 0x66, "16"},
    {"7", "&7", 103, 0x67, "17"},
    {"8", "&8", 104, 0x68, "18"},
    {"9", "&9", 105, 0x69, "19"},
    {"point", "&.", 110, 0x6E, "1A"},
    {"0", "&0", 96, 0x60, "10"},
    {"minus", "&-", 78, 0x6D, "1B"},
    {"up", "/\\", 107, 0x26, "0A"},
    {"down", "\\/", 109, 0x28, "0B"},
    {"cxl", "c&xl", 88, 0x58, "0D"},
    {"ent", "&ent", 69, 0x0D, "0C"},
    {"reset", "&reset", 79, 0x52, ""},
    {"byp", "&byp", 66, 0x42, "09"},
    {"level", "&level", 76, 0x4C, "08"},
    {"F1", "F1", 112, 0x70, "01"},
    {"F2", "F2", 113, 0x71, "02"},
    {"F3", "F3", 114, 0x72, "03"},
    {"F4", "F4", 115, 0x73, "04"},
}};

inline const DesignKey& DesignKeyNamed(std::string_view key) {
  for (const DesignKey& row : kDesignKeys) {
    if (row.key == key) return row;
  }
  return kDesignKeys.front();  // a typo in a test shows as a wrong message
}

// The message a key sends: header F0 1C 60 <device ID> 00; for a key the record
// ":017C0000" + code + checksum (83 hex minus the code), then ":017C01000082",
// ":0268AE007C006C" and "|FEA45E"; for reset "|FEB64C" alone; then F7.
inline std::vector<std::uint8_t> DesignMessage(const DesignKey& row, std::uint8_t deviceId = 0) {
  std::string text;
  if (row.code.empty()) {
    text = "|FEB64C";
  } else {
    const unsigned code = static_cast<unsigned>(std::stoul(std::string(row.code), nullptr, 16));
    const char* digits = "0123456789ABCDEF";
    const unsigned checksum = 0x83 - code;
    text = ":017C0000" + std::string(row.code) + digits[checksum >> 4] + digits[checksum & 0xF] +
           ":017C01000082:0268AE007C006C|FEA45E";
  }
  std::vector<std::uint8_t> bytes = {0xF0, 0x1C, 0x60, deviceId, 0x00};
  for (const char c : text) bytes.push_back(static_cast<std::uint8_t>(c));
  bytes.push_back(0xF7);
  return bytes;
}
