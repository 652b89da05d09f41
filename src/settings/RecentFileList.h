// A most-recently-used list of file paths kept in one section of the per-user profile:
// a fixed number of slots, slot 0 the most recent, some of them possibly empty. The
// profile form is one string value per non-empty slot, named by the entry format filled
// with the slot number plus the start number plus one ("File%d": File1, File2...).
#pragma once

#include <string>
#include <vector>

class CRecentFileList {
 public:
  // Case rule for comparing two paths: the platform's, or a fixed one.
  enum class PathCase { Platform, Sensitive, Insensitive };

  // strEntryFormat holds one "%d" for the entry number.
  CRecentFileList(int nStart, std::string strSection, std::string strEntryFormat, int nSize,
                  PathCase pathCase = PathCase::Platform);
  CRecentFileList(const CRecentFileList&) = delete;
  CRecentFileList& operator=(const CRecentFileList&) = delete;

  int GetSize() const { return static_cast<int>(m_arrNames.size()); }
  // The path in slot nIndex; empty for an empty slot.
  const std::string& operator[](int nIndex) const { return m_arrNames.at(static_cast<std::size_t>(nIndex)); }

  // Fills every slot from the profile; a missing value gives an empty slot.
  void ReadList();
  // Empties slot nIndex: the later slots move up by one and the last slot becomes empty.
  void Remove(int nIndex);
  // Puts the full form of the path into slot 0. A slot among all but the last that holds
  // the same path is taken out; otherwise the last slot is dropped. An empty path stays
  // empty and is added like any other.
  void Add(const std::string& strPathName);
  // Deletes the whole section, then writes every non-empty slot, in one step where the
  // profile allows. Results are not reported.
  void WriteList() const;

  // The profile entry name of a slot.
  std::string EntryName(int nIndex) const;
  // Whether two paths name the same file under this list's case rule: exactly equal where
  // the file system tells case apart, equal without regard to case where it does not.
  bool SamePath(const std::string& a, const std::string& b) const;

 private:
  int m_nStart;
  std::string m_strSectionName;
  std::string m_strEntryFormat;
  bool m_ignoreCase;
  std::vector<std::string> m_arrNames;
};

// The full form of a path by the platform's rules: made absolute against the current
// directory, with "." and ".." segments, doubled and trailing separators resolved and the
// platform's own separators, symbolic links left alone. Paths are UTF-8. Empty stays
// empty.
std::string FullPath(const std::string& path);
