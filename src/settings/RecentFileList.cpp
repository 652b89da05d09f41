#include "settings/RecentFileList.h"

#include <QDir>
#include <QSysInfo>

#include "settings/ProfileStore.h"

namespace {

Qt::CaseSensitivity CaseRule(CRecentFileList::PathCase pathCase) {
  switch (pathCase) {
    case CRecentFileList::PathCase::Sensitive: return Qt::CaseSensitive;
    case CRecentFileList::PathCase::Insensitive: return Qt::CaseInsensitive;
    case CRecentFileList::PathCase::Platform: break;
  }
  // Windows file systems ignore case; the Linux ones tell "a.bmp" and "A.bmp" apart,
  // and there two such entries name two different files.
  return QSysInfo::kernelType() == QLatin1String("winnt") ? Qt::CaseInsensitive : Qt::CaseSensitive;
}

}  // namespace

std::string FullPath(const std::string& path) {
  if (path.empty()) return path;
  const QString absolute = QDir::current().absoluteFilePath(QString::fromLocal8Bit(path));
  return QDir::toNativeSeparators(QDir::cleanPath(absolute)).toLocal8Bit().toStdString();
}

CRecentFileList::CRecentFileList(int nStart, std::string strSection, std::string strEntryFormat,
                                 int nSize, PathCase pathCase)
    : m_nStart(nStart),
      m_strSectionName(std::move(strSection)),
      m_strEntryFormat(std::move(strEntryFormat)),
      m_pathCase(CaseRule(pathCase)),
      m_arrNames(static_cast<std::size_t>(nSize > 0 ? nSize : 0)) {}

std::string CRecentFileList::EntryName(int nIndex) const {
  std::string name = m_strEntryFormat;
  const std::size_t at = name.find("%d");
  if (at != std::string::npos) name.replace(at, 2, std::to_string(nIndex + m_nStart + 1));
  return name;
}

bool CRecentFileList::SamePath(const std::string& a, const std::string& b) const {
  return QString::fromLocal8Bit(a).compare(QString::fromLocal8Bit(b), m_pathCase) == 0;
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
  ProfileStore& store = CurrentProfileStore();
  store.DeleteSection(m_strSectionName);
  for (int i = 0; i < GetSize(); ++i) {
    const std::string& name = m_arrNames[static_cast<std::size_t>(i)];
    if (!name.empty()) store.StoreProfileString(m_strSectionName, EntryName(i), name);
  }
}
