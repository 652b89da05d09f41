#include "settings/RecentFileList.h"

#include <cwctype>
#include <filesystem>
#include <system_error>

#include "settings/ProfileStore.h"

#if defined(_WIN32)
#include <windows.h>

#include "desktop/WideText_win.h"
#endif

namespace fs = std::filesystem;

namespace {

// Windows file systems ignore case; the Linux ones tell "a.bmp" and "A.bmp" apart, and
// there two such entries name two different files.
#if defined(_WIN32)
constexpr bool kPlatformIgnoresCase = true;
#else
constexpr bool kPlatformIgnoresCase = false;
#endif

bool IgnoresCase(CRecentFileList::PathCase pathCase) {
  switch (pathCase) {
    case CRecentFileList::PathCase::Sensitive: return false;
    case CRecentFileList::PathCase::Insensitive: return true;
    case CRecentFileList::PathCase::Platform: break;
  }
  return kPlatformIgnoresCase;
}

#if defined(_WIN32)
// The file system's own rule: ordinal comparison of the upper-cased UTF-16 text.
bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  const std::wstring wa = Utf8ToWide(a);
  const std::wstring wb = Utf8ToWide(b);
  return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()),
                              TRUE) == CSTR_EQUAL;
}
#else
// The code points of UTF-8 text; a byte that starts no valid sequence stands for itself.
std::u32string CodePoints(const std::string& text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    char32_t point = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
    bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      valid = (next & 0xC0) == 0x80;
      point = (point << 6) | (next & 0x3F);
    }
    if (!valid) {
      out.push_back(lead);
      ++i;
      continue;
    }
    out.push_back(point);
    i += static_cast<std::size_t>(length);
  }
  return out;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  const std::u32string ca = CodePoints(a);
  const std::u32string cb = CodePoints(b);
  if (ca.size() != cb.size()) return false;
  for (std::size_t i = 0; i < ca.size(); ++i) {
    if (std::towlower(static_cast<std::wint_t>(ca[i])) != std::towlower(static_cast<std::wint_t>(cb[i]))) return false;
  }
  return true;
}
#endif

bool IsSeparator(char c) {
#if defined(_WIN32)
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::string FullPath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  fs::path full = fs::absolute(PathOf(path), error);
  if (error) return path;
  full = full.lexically_normal();
  full.make_preferred();
  std::string text = Utf8Of(full);
  const std::size_t root = Utf8Of(full.root_path()).size();
  while (text.size() > root && IsSeparator(text.back())) text.pop_back();
  return text;
}

CRecentFileList::CRecentFileList(int nStart, std::string strSection, std::string strEntryFormat,
                                 int nSize, PathCase pathCase)
    : m_nStart(nStart),
      m_strSectionName(std::move(strSection)),
      m_strEntryFormat(std::move(strEntryFormat)),
      m_ignoreCase(IgnoresCase(pathCase)),
      m_arrNames(static_cast<std::size_t>(nSize > 0 ? nSize : 0)) {}

std::string CRecentFileList::EntryName(int nIndex) const {
  std::string name = m_strEntryFormat;
  const std::size_t at = name.find("%d");
  if (at != std::string::npos) name.replace(at, 2, std::to_string(nIndex + m_nStart + 1));
  return name;
}

bool CRecentFileList::SamePath(const std::string& a, const std::string& b) const {
  return m_ignoreCase ? EqualIgnoringCase(a, b) : a == b;
}

void CRecentFileList::ReadList() {
  ProfileStore& store = CurrentProfileStore();
  for (int i = 0; i < GetSize(); ++i) {
    m_arrNames[static_cast<std::size_t>(i)] = store.ReadProfileString(m_strSectionName, EntryName(i), "");
  }
}

void CRecentFileList::Remove(int nIndex) {
  if (nIndex < 0 || nIndex >= GetSize()) return;
  for (int i = nIndex; i + 1 < GetSize(); ++i) {
    m_arrNames[static_cast<std::size_t>(i)] = std::move(m_arrNames[static_cast<std::size_t>(i + 1)]);
  }
  m_arrNames.back().clear();
}

void CRecentFileList::Add(const std::string& strPathName) {
  if (m_arrNames.empty()) return;
  const std::string strFull = FullPath(strPathName);
  int iMRU = GetSize() - 1;
  for (int i = 0; i < GetSize() - 1; ++i) {
    if (SamePath(m_arrNames[static_cast<std::size_t>(i)], strFull)) {
      iMRU = i;
      break;
    }
  }
  for (; iMRU > 0; --iMRU) {
    m_arrNames[static_cast<std::size_t>(iMRU)] = std::move(m_arrNames[static_cast<std::size_t>(iMRU - 1)]);
  }
  m_arrNames.front() = strFull;
}

void CRecentFileList::WriteList() const {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < GetSize(); ++i) {
    const std::string& name = m_arrNames[static_cast<std::size_t>(i)];
    if (!name.empty()) entries.emplace_back(EntryName(i), name);
  }
  CurrentProfileStore().ReplaceSection(m_strSectionName, entries);
}
