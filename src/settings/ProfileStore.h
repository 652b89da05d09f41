// The per-user profile: named integer and string values in sections, under the company
// key and the application title. On Windows this is the registry key
// HKEY_CURRENT_USER\Software\<company>\<application> (integers as DWORD values, strings
// as string values, sections as subkeys); on Linux the file
// $XDG_CONFIG_HOME/<company>/<application>.conf (default ~/.config), sections as groups.
//
// Each call opens the profile afresh, so values written by somebody else are seen by the
// next read, and calls may come from any thread. Writes reach the disk before they return.
#pragma once

#include <cstdint>
#include <string>

inline constexpr char kSettingsSection[] = "Settings";
inline constexpr char kRecentBackgroundsSection[] = "Recent Backgrounds";

class ProfileStore {
 public:
  ProfileStore(std::string company, std::string application);
  ProfileStore(const ProfileStore&) = delete;
  ProfileStore& operator=(const ProfileStore&) = delete;
  virtual ~ProfileStore() = default;

  // The stored value when it exists and is an integer that fits in 32 bits (unsigned
  // values above 0x7FFFFFFF read as their signed 32-bit form), otherwise nDefault.
  virtual std::int32_t ReadProfileInt(const std::string& section, const std::string& entry,
                                     std::int32_t nDefault) const;
  // The stored text when the value exists, otherwise strDefault.
  virtual std::string ReadProfileString(const std::string& section, const std::string& entry,
                                       const std::string& strDefault) const;
  // True when the value reached the disk. The value is stored as a 32-bit integer: the
  // registry holds -1 as the DWORD 0xFFFFFFFF, the Linux file as the text "-1"; either
  // form, and "4294967295", reads back as -1.
  virtual bool StoreProfileInt(const std::string& section, const std::string& entry,
                               std::int32_t nValue);
  virtual bool StoreProfileString(const std::string& section, const std::string& entry,
                                  const std::string& strValue);
  // Deletes the section with all its values; true when that reached the disk or the
  // section held nothing.
  virtual bool DeleteSection(const std::string& section);

  // Where the values live: the file on Linux, the registry path on Windows.
  std::string Location() const;
  const std::string& Company() const { return m_strCompany; }
  const std::string& Application() const { return m_strApplication; }

 private:
  std::string m_strCompany;
  std::string m_strApplication;
};

// The profile every part of the program reads and writes: the installed store, or until
// one is installed, a store for kCompanyKey and kAppTitle.
ProfileStore& CurrentProfileStore();
// Installs a store (not owned; null restores the default) and returns the previous one.
// The store must outlive every reader, including a running version check.
ProfileStore* InstallProfileStore(ProfileStore* store);

// "DownloadURL" of section "Settings", read now, or kDefaultDownloadUrl. Any thread.
std::string ReadDownloadUrl();
