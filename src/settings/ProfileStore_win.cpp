#include "settings/ProfileStore.h"

// The profile on Windows: the registry key HKEY_CURRENT_USER\Software\<company>\<application>,
// one subkey per section, integers as REG_DWORD and strings as REG_SZ values.
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "desktop/WideText_win.h"

namespace {

// Owner of one open registry key.
class UniqueHKey {
 public:
  UniqueHKey() = default;
  UniqueHKey(const UniqueHKey&) = delete;
  UniqueHKey& operator=(const UniqueHKey&) = delete;
  ~UniqueHKey() {
    if (m_key) RegCloseKey(m_key);
  }
  HKEY Get() const { return m_key; }
  HKEY* Receive() { return &m_key; }
  explicit operator bool() const { return m_key != nullptr; }

 private:
  HKEY m_key = nullptr;
};

std::wstring AppKeyPath(const std::string& company, const std::string& application) {
  return L"Software\\" + Utf8ToWide(company) + L"\\" + Utf8ToWide(application);
}

// Opens the section's key, creating the key tree when it is missing, also for a read: the
// first start leaves the empty tree behind.
bool OpenSection(const std::string& company, const std::string& application,
                 const std::string& section, REGSAM access, UniqueHKey& key) {
  const std::wstring path = AppKeyPath(company, application) + L"\\" + Utf8ToWide(section);
  return RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                         access, nullptr, key.Receive(), nullptr) == ERROR_SUCCESS;
}

// The value's type and bytes; false when it does not exist or cannot be read.
bool QueryValue(HKEY key, const std::string& entry, DWORD& type, std::vector<BYTE>& data) {
  const std::wstring name = Utf8ToWide(entry);
  // A value may change size between the two calls when somebody else writes it.
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return false;
    }
    data.resize(size);
    const LONG result = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
    if (result == ERROR_SUCCESS) {
      data.resize(size);
      return true;
    }
    if (result != ERROR_MORE_DATA) return false;
  }
  return false;
}

// A string value's text, without the terminating null that the registry usually keeps.
std::wstring StringData(const std::vector<BYTE>& data) {
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

// A hand-entered string value holding a whole decimal number, or a 0x-prefixed
// hexadecimal one, that fits in 32 bits.
bool ParseInteger(const std::wstring& text, std::int32_t& value) {
  std::size_t start = text.find_first_not_of(L" \t");
  std::size_t end = text.find_last_not_of(L" \t");
  if (start == std::wstring::npos) return false;
  std::wstring digits = text.substr(start, end - start + 1);
  int base = 10;
  if (digits.size() > 2 && digits[0] == L'0' && (digits[1] == L'x' || digits[1] == L'X')) {
    digits = digits.substr(2);
    base = 16;
  }
  wchar_t* stop = nullptr;
  errno = 0;
  const long long parsed = std::wcstoll(digits.c_str(), &stop, base);
  if (errno != 0 || stop == digits.c_str() || *stop != L'\0') return false;
  if (parsed < std::numeric_limits<std::int32_t>::min() ||
      parsed > static_cast<long long>(std::numeric_limits<std::uint32_t>::max())) {
    return false;
  }
  value = static_cast<std::int32_t>(static_cast<std::uint32_t>(parsed & 0xFFFFFFFF));
  return true;
}

}  // namespace

std::int32_t ProfileStore::ReadProfileInt(const std::string& section, const std::string& entry,
                                         std::int32_t nDefault) const {
  UniqueHKey key;
  if (!OpenSection(m_strCompany, m_strApplication, section, KEY_QUERY_VALUE, key)) return nDefault;
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!QueryValue(key.Get(), entry, type, data)) return nDefault;
  if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
    DWORD stored = 0;
    std::memcpy(&stored, data.data(), sizeof stored);
    return static_cast<std::int32_t>(stored);
  }
  std::int32_t value = 0;
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && ParseInteger(StringData(data), value)) {
    return value;
  }
  return nDefault;
}

std::string ProfileStore::ReadProfileString(const std::string& section, const std::string& entry,
                                           const std::string& strDefault) const {
  UniqueHKey key;
  if (!OpenSection(m_strCompany, m_strApplication, section, KEY_QUERY_VALUE, key)) {
    return strDefault;
  }
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!QueryValue(key.Get(), entry, type, data) || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return strDefault;
  }
  return WideToUtf8(StringData(data));
}

bool ProfileStore::StoreProfileInt(const std::string& section, const std::string& entry,
                                   std::int32_t nValue) {
  UniqueHKey key;
  if (!OpenSection(m_strCompany, m_strApplication, section, KEY_SET_VALUE, key)) return false;
  const DWORD value = static_cast<DWORD>(nValue);
  return RegSetValueExW(key.Get(), Utf8ToWide(entry).c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}

bool ProfileStore::StoreProfileString(const std::string& section, const std::string& entry,
                                      const std::string& strValue) {
  UniqueHKey key;
  if (!OpenSection(m_strCompany, m_strApplication, section, KEY_SET_VALUE, key)) return false;
  const std::wstring value = Utf8ToWide(strValue);
  const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.Get(), Utf8ToWide(entry).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()), size) == ERROR_SUCCESS;
}

bool ProfileStore::DeleteSection(const std::string& section) {
  UniqueHKey app;
  const std::wstring path = AppKeyPath(m_strCompany, m_strApplication);
  const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0,
                                    KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | DELETE | KEY_SET_VALUE,
                                    app.Receive());
  if (opened == ERROR_FILE_NOT_FOUND) return true;
  if (opened != ERROR_SUCCESS) return false;
  // Given a subkey, RegDeleteTree removes the subkey itself with everything below it.
  const LONG deleted = RegDeleteTreeW(app.Get(), Utf8ToWide(section).c_str());
  return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

bool ProfileStore::ReplaceSection(const std::string& section,
                                  const std::vector<std::pair<std::string, std::string>>& entries) {
  bool written = DeleteSection(section);
  for (const auto& [entry, text] : entries) written = StoreProfileString(section, entry, text) && written;
  return written;
}

std::string ProfileStore::WriteFailureText() const { return "Could not write to registry."; }

std::string ProfileStore::Location() const {
  return "HKEY_CURRENT_USER\\Software\\" + m_strCompany + "\\" + m_strApplication;
}
