#include <gtest/gtest.h>

#include <QFile>
#include <QTextStream>
#include <climits>

#include "ProfileFixture.h"
#include "settings/BuildConfig.h"

namespace {

using ProfileStoreTest = ProfileFixture;

TEST_F(ProfileStoreTest, TheDefaultLocationFollowsXdgConfigHome) {
  EXPECT_EQ(g_defaultProfileLocation, g_xdgConfigHome + "/Vellicor/Quillmark.conf");
  EXPECT_EQ(store.Location(), FilePath().toStdString());
}

TEST_F(ProfileStoreTest, IntegerReadsGiveTheStored32BitValueOrTheDefault) {
  struct Case {
    const char* stored;  // null: the value does not exist
    std::int32_t expected;
  };
  const Case cases[] = {
      {nullptr, -7},
      {"5", 5},
      {"0", 0},
      {"-1", -1},
      {"4294967295", -1},
      {"0xFFFFFFFF", -1},
      {"0x63", 99},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"4294967296", -7},
      {"-2147483649", -7},
      {"", -7},
      {"abc", -7},
      {"12abc", -7},
      {"1.5", -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored ? c.stored : "(missing)");
    if (c.stored) Store("Settings", "Value", QString(c.stored));
    EXPECT_EQ(store.ReadProfileInt("Settings", "Value", -7), c.expected);
  }
}

TEST_F(ProfileStoreTest, StringReadsGiveTheStoredTextEvenWhenEmpty) {
  EXPECT_EQ(store.ReadProfileString("Settings", "Hostname", "fallback"), "fallback");
  Store("Settings", "Hostname", QString(""));
  EXPECT_EQ(store.ReadProfileString("Settings", "Hostname", "fallback"), "");
  Store("Settings", "Hostname", QString("a, b"));
  EXPECT_EQ(store.ReadProfileString("Settings", "Hostname", "fallback"), "a, b");
}

TEST_F(ProfileStoreTest, HandEnteredTextsComeBackAsTyped) {
  struct Case {
    const char* line;  // as typed into the file
    const char* read;
  };
  const Case cases[] = {
      {"VersionFile=/qm/ver,1.txt", "/qm/ver,1.txt"},
      {"VersionFile=a, b ,c", "a, b ,c"},
      {"VersionFile = /x.txt ", "/x.txt"},
      {"VersionFile=\"quoted, with = and ;\"", "quoted, with = and ;"},
      {"VersionFile=", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    WriteFile(std::string("[Settings]\n") + c.line + "\n");
    EXPECT_EQ(store.ReadProfileString("Settings", "VersionFile", "?"), c.read);
  }
}

// A note or stray text before the first section: the values after it read, writes
// succeed, and the file keeps every line it had.
TEST_F(ProfileStoreTest, LinesBeforeTheFirstSectionAreKeptAndDoNotFailWrites) {
  const std::string head = "# my studio\ngarbage without an equals sign\nstray=value\n";
  WriteFile(head + "[Settings]\nMIDI%20Channel=3\n; tuned by hand\n");
  EXPECT_EQ(store.ReadProfileInt("Settings", "MIDI Channel", 255), 3);
  EXPECT_EQ(store.ReadProfileString("Settings", "stray", "none"), "none") << "not in any section";
  ASSERT_TRUE(store.StoreProfileString("Settings", "Background", "b.bmp"));
  ASSERT_TRUE(store.StoreProfileInt("Settings", "MIDI Channel", 4));
  ASSERT_TRUE(store.StoreProfileString("Recent Backgrounds", "File1", "a.bmp"));
  const std::string text = ReadFile();
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_NE(text.find("; tuned by hand\n"), std::string::npos);
  EXPECT_EQ(store.ReadProfileInt("Settings", "MIDI Channel", 255), 4);
  EXPECT_EQ(store.ReadProfileString("Settings", "Background", "?"), "b.bmp");
  EXPECT_EQ(store.ReadProfileString("Recent Backgrounds", "File1", "?"), "a.bmp");
}

TEST_F(ProfileStoreTest, EveryValueSurvivesARoundTripThroughTheFile) {
  const std::int32_t integers[] = {0, 1, -1, 99, 255, INT_MAX, INT_MIN};
  const std::string strings[] = {"",           "DarkRivets.bmp", "C:\\Images\\a b,c.bmp",
                                 "/tmp/x=y;z", "@Variant(odd)",  "\xC3\xA4ndern.bmp",
                                 "/qm/ver,1.txt", "say \"hi\", then \"bye\"", "  padded\t",
                                 "#not a note", "[not a section]", "line\nbreak"};
  int n = 0;
  for (const std::int32_t value : integers) {
    ASSERT_TRUE(store.StoreProfileInt("Settings", "Int" + std::to_string(n++), value));
  }
  n = 0;
  for (const std::string& value : strings) {
    ASSERT_TRUE(
        store.StoreProfileString("Recent Backgrounds", "File" + std::to_string(n++), value));
  }

  const ProfileStore reader("Vellicor", "Quillmark");
  n = 0;
  for (const std::int32_t value : integers) {
    EXPECT_EQ(reader.ReadProfileInt("Settings", "Int" + std::to_string(n++), 12345), value);
  }
  n = 0;
  for (const std::string& value : strings) {
    EXPECT_EQ(reader.ReadProfileString("Recent Backgrounds", "File" + std::to_string(n), "?"),
              value);
    // The desktop toolkit's INI reader, which wrote the profiles of earlier releases,
    // reads the same text.
    EXPECT_EQ(Stored("Recent Backgrounds", QString::fromStdString("File" + std::to_string(n++)))
                  .toString()
                  .toStdString(),
              value);
  }
  // The values are on the disk, not merely in a cache of this process.
  QFile file(FilePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
  const QString text = QTextStream(&file).readAll();
  EXPECT_TRUE(text.contains("[Settings]"));
  EXPECT_TRUE(text.contains("Int2=-1\n")) << text.toStdString();
  EXPECT_TRUE(text.contains("[Recent%20Backgrounds]")) << text.toStdString();
}

TEST_F(ProfileStoreTest, DeletingASectionLeavesTheOthers) {
  ASSERT_TRUE(store.StoreProfileString("Recent Backgrounds", "File1", "a.bmp"));
  ASSERT_TRUE(store.StoreProfileString("Recent Backgrounds", "File2", "b.bmp"));
  ASSERT_TRUE(store.StoreProfileInt("Settings", "MIDI Channel", 3));
  ASSERT_TRUE(store.DeleteSection("Recent Backgrounds"));
  EXPECT_TRUE(Entries("Recent Backgrounds").isEmpty());
  EXPECT_EQ(store.ReadProfileString("Recent Backgrounds", "File1", "none"), "none");
  EXPECT_EQ(store.ReadProfileInt("Settings", "MIDI Channel", 0), 3);
}

TEST_F(ProfileStoreTest, WritesThatCannotReachTheDiskFail) {
  MakeProfileUnwritable();
  EXPECT_FALSE(store.StoreProfileString("Settings", "Background", "x.bmp"));
  EXPECT_FALSE(store.StoreProfileInt("Settings", "MIDI Channel", 1));
  EXPECT_TRUE(store.DeleteSection("Recent Backgrounds")) << "nothing there, nothing to write";
  EXPECT_EQ(store.ReadProfileInt("Settings", "MIDI Channel", 255), 255);
}

TEST_F(ProfileStoreTest, WritesSucceedAgainOnceTheProfileIsWritable) {
  MakeProfileUnwritable();
  EXPECT_FALSE(store.StoreProfileInt("Settings", "MIDI Channel", 1));
  ASSERT_TRUE(QFile::remove(m_root.path() + "/Vellicor"));
  EXPECT_TRUE(store.StoreProfileInt("Settings", "MIDI Channel", 2));
  EXPECT_EQ(Stored("Settings", "MIDI Channel").toString(), "2");
}

TEST_F(ProfileStoreTest, DownloadUrlIsReadEachTimeWithTheBuildDefault) {
  EXPECT_EQ(ReadDownloadUrl(), kDefaultDownloadUrl);
  Store("Settings", "DownloadURL", QString("mirror.vellicor.example/get.html"));
  EXPECT_EQ(ReadDownloadUrl(), "mirror.vellicor.example/get.html");
}

}  // namespace
