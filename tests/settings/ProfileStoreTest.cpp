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
                                 "#not a note", "[not a section]", "line\nbreak",
                                 "\x01" "AB", "\x7f" "1", std::string("\0" "12", 3), "\x1b[0m\x1f" "f",
                                 "@ByteArray(x)", "@@", "a\\", "\xF0\x9F\x8E\x9B \"quoted\" ; note"};
  int n = 0;
  for (const std::int32_t value : integers) {
    ASSERT_TRUE(store.StoreProfileInt("Settings", "Int" + std::to_string(n++), value));
  }
  n = 0;
  for (const std::string& value : strings) {
    ASSERT_TRUE(
        store.StoreProfileString("Recent Backgrounds", "File" + std::to_string(n++), value));
  }
  ASSERT_TRUE(store.StoreProfileString("Settings", "Background", "\x01" "AB"));

  const ProfileStore reader("Vellicor", "Quillmark");
  n = 0;
  for (const std::int32_t value : integers) {
    EXPECT_EQ(reader.ReadProfileInt("Settings", "Int" + std::to_string(n++), 12345), value);
  }
  EXPECT_EQ(reader.ReadProfileString("Settings", "Background", "?"), "\x01" "AB");
  n = 0;
  for (const std::string& value : strings) {
    SCOPED_TRACE(testing::PrintToString(value));
    const QString key = QString::fromStdString("File" + std::to_string(n));
    EXPECT_EQ(reader.ReadProfileString("Recent Backgrounds", "File" + std::to_string(n++), "?"),
              value);
    // The desktop toolkit's INI reader, which wrote the profiles of earlier releases,
    // reads the same text.
    EXPECT_EQ(Stored("Recent Backgrounds", key).toString().toStdString(), value);
  }
  // The values are on the disk, not merely in a cache of this process.
  QFile file(FilePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
  const QString text = QTextStream(&file).readAll();
  EXPECT_TRUE(text.contains("[Settings]"));
  EXPECT_TRUE(text.contains("Int2=-1\n")) << text.toStdString();
  EXPECT_TRUE(text.contains("[Recent%20Backgrounds]")) << text.toStdString();
}

// The other way round: what the toolkit writes reads back the same here, bytes that are no
// UTF-8 text included.
TEST_F(ProfileStoreTest, TextsTheToolkitWroteReadAsItWroteThem) {
  const std::string texts[] = {"\x01" "AB", std::string("\0" "12", 3), "\x7f" "1", "a,b;c=d", " x ",
                               "\"\\\t", "@start", "\xE2\x82\xAC\xF0\x9F\x8E\x9B"};
  int n = 0;
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::PrintToString(text));
    const QString entry = "Text" + QString::number(n++);
    Store("Settings", entry, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    EXPECT_EQ(store.ReadProfileString("Settings", entry.toStdString(), "?"), text);
  }
  const std::string bytes = "\xFF\xFE\x01" "9\xC3";
  Store("Settings", "Bytes", QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
  EXPECT_EQ(store.ReadProfileString("Settings", "Bytes", "?"), bytes);
  ASSERT_TRUE(store.StoreProfileString("Settings", "Bytes", bytes + "x"));
  EXPECT_EQ(Stored("Settings", "Bytes").toByteArray().toStdString(), bytes + "x");
}

// Hand-written profiles: every value reads as the toolkit's INI reader reads it.
TEST_F(ProfileStoreTest, HandWrittenProfilesReadAsTheToolkitReadsThem) {
  struct Case {
    const char* text;
    const char* section;  // "" for the values outside any section
    const char* entry;
  };
  const Case cases[] = {
      {"\xEF\xBB\xBF[Settings]\nTargetDeviceID=7\n", "Settings", "TargetDeviceID"},
      {"[Settings]\r\nBackground=a.bmp ; the old one\r\n", "Settings", "Background"},
      {"[Settings]\rBackground=a.bmp\rHostname=h\r", "Settings", "Background"},
      {"[Settings]\nBackground=first\nBackground=second\n", "Settings", "Background"},
      {"[Settings]\nBackground=a\n[Other]\nBackground=x\n[Settings]\nBackground=b\n", "Settings", "Background"},
      {"[Settings] trailing\nBackground=\"x\" y \n", "Settings", "Background"},
      {"[Settings]\nBackground=\"two\nlines\"\nHostname=h\n", "Settings", "Hostname"},
      {"[Settings]\nBackground=\"two\nlines\"\n", "Settings", "Background"},
      {"[Settings]\nBackground=con\\\ntinued\n", "Settings", "Background"},
      {"[Settings]\nBackground=\\x41BC\\101\\q\\?\\xd83d\\xde00\n", "Settings", "Background"},
      {"[Settings]\nBackground=C:\\Images\\a.bmp\n", "Settings", "Background"},
      {"[Settings]\nBackground=tail  \\\n", "Settings", "Background"},
      {"[Settings]\nBackground=@@x\nHostname=@String(h)\nVersionFile=@odd\n", "Settings", "Hostname"},
      {"[Settings]\nBackground=@@x\n", "Settings", "Background"},
      {"[Settings]\nVersionFile=@odd\n", "Settings", "VersionFile"},
      {"  MIDI%20Channel  =  3  \n[Settings]\n", "", "MIDI Channel"},
      {"[General]\nHostname=root\n[%General]\nHostname=own\n", "", "Hostname"},
      {"[General]\nHostname=root\n[%General]\nHostname=own\n", "General", "Hostname"},
      {"[Recent%20Backgrounds]\nFile%U00e41=x\n", "Recent Backgrounds", "File\xC3\xA4" "1"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string application = "Case" + std::to_string(n++);  // the toolkit caches by file
    const ProfileStore own("Vellicor", application);
    WriteText(QString::fromStdString(own.Location()), c.text);
    const QSettings toolkit(QString::fromStdString(own.Location()), QSettings::IniFormat);
    const QString key = QString::fromUtf8(*c.section ? std::string(c.section) + "/" + c.entry : c.entry);
    const QVariant expected = toolkit.value(key);
    ASSERT_EQ(expected.typeId(), QMetaType::QString);
    EXPECT_EQ(own.ReadProfileString(c.section, c.entry, "?"), expected.toString().toStdString());
  }
  EXPECT_EQ(ProfileStore("Vellicor", "Case0").ReadProfileInt("Settings", "TargetDeviceID", -1), 7);
}

// A write changes the one value in place; everything else reads as before.
TEST_F(ProfileStoreTest, AWriteLandsInTheSectionItNamesAndTheToolkitReadsTheResult) {
  struct Case {
    const char* before;
    std::vector<std::pair<const char*, const char*>> expected;  // "section/entry", value
  };
  const Case cases[] = {
      {"[Settings]\n\n[Other]\nx=1\n", {{"Settings/TargetDeviceID", "9"}, {"Other/x", "1"}}},
      {"[Settings]\nTargetDeviceID=1\nTargetDeviceID=2\n", {{"Settings/TargetDeviceID", "9"}}},
      {"\xEF\xBB\xBF[Settings]\nTargetDeviceID=7\n", {{"Settings/TargetDeviceID", "9"}}},
      {"[Settings]\nBackground=\"a\nb\"", {{"Settings/TargetDeviceID", "9"}, {"Settings/Background", "a\nb"}}},
      {"[Other]\nx=\"1;2\" ; note\n", {{"Settings/TargetDeviceID", "9"}, {"Other/x", "1;2"}}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    ProfileStore own("Vellicor", "Case" + std::to_string(n++));
    WriteText(QString::fromStdString(own.Location()), c.before);
    ASSERT_TRUE(own.StoreProfileInt("Settings", "TargetDeviceID", 9));
    const QSettings toolkit(QString::fromStdString(own.Location()), QSettings::IniFormat);
    for (const auto& [key, value] : c.expected) EXPECT_EQ(toolkit.value(key).toString().toStdString(), value) << key;
    std::string text = ReadText(QString::fromStdString(own.Location()));
    EXPECT_EQ(text.find("[Settings]"), text.rfind("[Settings]")) << "one header:\n" << text;
  }
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
