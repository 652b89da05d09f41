#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <optional>
#include <string>
#include <vector>

#include "settings/ProfileStore.h"
#include "ProfileHome.h"
#include "settings/RecentFileList.h"

namespace {

using Slots = std::vector<std::string>;

class RecentFileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_profile.isValid());
    m_home.emplace(m_profile.path().toStdString());
    m_previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_work.path()));
    m_cwd = QDir::currentPath().toStdString();
  }
  void TearDown() override {
    QDir::setCurrent(m_previousDir);
    m_home.reset();
  }

  static Slots SlotsOf(const CRecentFileList& list) {
    Slots names;
    for (int i = 0; i < list.GetSize(); ++i) names.push_back(list[i]);
    return names;
  }
  // A list of ten slots filled from the profile with the given leading entries.
  static void StoreSlots(const Slots& names) {
    ProfileStore& store = CurrentProfileStore();
    store.DeleteSection(kRecentBackgroundsSection);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (!names[i].empty()) store.StoreProfileString(kRecentBackgroundsSection, "File" + std::to_string(i + 1), names[i]);
    }
  }
  static Slots Padded(Slots names) {
    names.resize(10);
    return names;
  }

  std::string m_cwd;

 private:
  QTemporaryDir m_profile;
  std::optional<ScopedProfileHome> m_home;
  QTemporaryDir m_work;
  QString m_previousDir;
};

TEST_F(RecentFileListTest, AddPutsTheFullPathFirstAndTakesOutItsOlderSlot) {
  struct Case {
    const char* what;
    Slots before;
    std::string added;
    CRecentFileList::PathCase pathCase;
    Slots after;
  };
  const Slots full = {"/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9", "/10"};
  const std::vector<Case> cases = {
      {"new path drops the last", full, "/new", CRecentFileList::PathCase::Sensitive,
       {"/new", "/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9"}},
      {"known path moves up", full, "/5", CRecentFileList::PathCase::Sensitive,
       {"/5", "/1", "/2", "/3", "/4", "/6", "/7", "/8", "/9", "/10"}},
      {"the last slot is not searched", full, "/10", CRecentFileList::PathCase::Sensitive,
       {"/10", "/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9"}},
      {"relative made absolute", {"/a"}, "x/../b.bmp", CRecentFileList::PathCase::Sensitive,
       Padded({m_cwd + "/b.bmp", "/a"})},
      {"case tells files apart here", {"/img/A.bmp", "/img/b.bmp"}, "/img/a.bmp", CRecentFileList::PathCase::Sensitive,
       Padded({"/img/a.bmp", "/img/A.bmp", "/img/b.bmp"})},
      {"case-blind file system", {"/img/A.bmp", "/img/b.bmp"}, "/img/a.bmp", CRecentFileList::PathCase::Insensitive,
       Padded({"/img/a.bmp", "/img/b.bmp"})},
      {"empty path takes an empty slot's place", {"/a", "/b"}, "", CRecentFileList::PathCase::Sensitive,
       Padded({"", "/a", "/b"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StoreSlots(c.before);
    CRecentFileList list(0, kRecentBackgroundsSection, "File%d", 10, c.pathCase);
    list.ReadList();
    EXPECT_EQ(SlotsOf(list), Padded(c.before));
    list.Add(c.added);
    EXPECT_EQ(SlotsOf(list), c.after);
  }
}

TEST_F(RecentFileListTest, PlatformCaseRuleOnLinuxIsExact) {
  CRecentFileList list(0, kRecentBackgroundsSection, "File%d", 10);
  EXPECT_FALSE(list.SamePath("/img/A.bmp", "/img/a.bmp"));
  EXPECT_TRUE(list.SamePath("/img/a.bmp", "/img/a.bmp"));
}

TEST_F(RecentFileListTest, RemoveMovesTheRestUpAndWriteLeavesGaps) {
  StoreSlots({"/a", "/b", "/c"});
  CRecentFileList list(0, kRecentBackgroundsSection, "File%d", 10);
  list.ReadList();
  list.Remove(1);
  EXPECT_EQ(SlotsOf(list), Padded({"/a", "/c"}));
  list.Add("");
  list.Remove(9);
  EXPECT_EQ(SlotsOf(list), Padded({"", "/a", "/c"}));

  // A stray value in the section goes with the rewrite.
  CurrentProfileStore().StoreProfileString(kRecentBackgroundsSection, "Stray", "x");
  list.WriteList();
  const ProfileStore& store = CurrentProfileStore();
  const std::vector<std::pair<const char*, std::string>> expected = {
      {"File1", "<none>"}, {"File2", "/a"}, {"File3", "/c"}, {"File4", "<none>"}, {"Stray", "<none>"}};
  for (const auto& [entry, value] : expected) {
    EXPECT_EQ(store.ReadProfileString(kRecentBackgroundsSection, entry, "<none>"), value) << entry;
  }
}

TEST(FullPathTest, ResolvesAgainstTheCurrentDirectoryAndKeepsEmptyEmpty) {
  const std::string cwd = QDir::currentPath().toStdString();
  EXPECT_EQ(FullPath(""), "");
  EXPECT_EQ(FullPath("a.bmp"), cwd + "/a.bmp");
  EXPECT_EQ(FullPath("/x//y/./z/../a.bmp"), "/x/y/a.bmp");
}

}  // namespace
