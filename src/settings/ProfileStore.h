// The per-user profile: named integer and string values in sections, under the company
// key and the application title. On Windows this is the registry key
// HKEY_CURRENT_USER\Software\<company>\<application> (integers as DWORD values, strings
// as string values, sections as subkeys); on Linux the file
// $XDG_CONFIG_HOME/<company>/<application>.conf (default ~/.config), sections as groups.
//
// Each call opens the profile afresh, so values written by somebody else are seen by the
// next read, and calls may come from any thread or process. Writes reach the disk before
// they return and change only the values they name.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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
  // Deletes the section, then stores the texts in it, in one step where the platform
  // allows: on Linux nobody sees the section half written, and two programs replacing it
  // at once do not mix their entries.
  virtual bool ReplaceSection(const std::string& section,
                              const std::vector<std::pair<std::string, std::string>>& entries);

  // What to tell the user after a write of this thread failed: "Could not write to
  // registry." on Windows; elsewhere the file and the system's reason, as in "Could not
  // write to /home/me/.config/Vellicor/Quillmark.conf: Permission denied."
  virtual std::string WriteFailureText() const;

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
