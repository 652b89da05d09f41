// The program's own version record: the fixed part with file and product version, one
// translation (language 0x0409, code page 0x04B0) and the string table "040904b0",
// generated from the project version at build time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The fixed part, field for field as the platform's fixed file information.
struct VersionFixedInfo {
  std::uint32_t dwSignature;
  std::uint32_t dwStrucVersion;
  std::uint32_t dwFileVersionMS;
  std::uint32_t dwFileVersionLS;
  std::uint32_t dwProductVersionMS;
  std::uint32_t dwProductVersionLS;
  std::uint32_t dwFileFlagsMask;
  std::uint32_t dwFileFlags;
  std::uint32_t dwFileOS;
  std::uint32_t dwFileType;
  std::uint32_t dwFileSubtype;
  std::uint32_t dwFileDateMS;
  std::uint32_t dwFileDateLS;
};

class VersionRecord {
 public:
  VersionRecord() = default;
  VersionRecord(const VersionRecord&) = delete;
  VersionRecord& operator=(const VersionRecord&) = delete;

  // Looks a block up by name, as the platform's version query does (names compared
  // without regard to case):
  //   "\"                               the fixed part, a VersionFixedInfo;
  //   "\VarFileInfo\Translation"        the translation table, 32-bit entries with the
  //                                     language in the low and the code page in the
  //                                     high 16 bits;
  //   "\StringFileInfo\040904b0\<name>" a string of the table, null-terminated.
  // True when found; then *value points at the block, which lives as long as the
  // program, and *length is its size: bytes for the first two, characters including
  // the terminating null for strings.
  bool QueryValue(std::string_view block, const void** value, unsigned* length) const;
};

// The program's version record, or null when the program runs without one (see
// HideOwnVersionRecord).
const VersionRecord* OwnVersionRecord();
// Test seam: while hidden, the program runs as if its executable carried no version
// record. Returns the previous setting.
bool HideOwnVersionRecord(bool bHide);

// The fixed part's product version as "%d.%d.%d.%d", most significant part first.
std::string ProductVersionText(const VersionFixedInfo& fixed);
// The product version of the own record as "%d.%d.%d.%d", most significant part first;
// empty without a record.
std::string OwnProductVersion();

// The full path of the running executable.
std::string OwnExecutablePath();
