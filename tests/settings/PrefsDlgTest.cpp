#include <gtest/gtest.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "FakeMidiServices.h"
#include "desktop/ManualUiQueue.h"
#include "ProfileFixture.h"
#include "settings/BuildConfig.h"
#include "desktop/MainWindow.h"
#include "settings/PrefsDlg.h"
#include "settings/VersionRecord.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/SettingsAccess.h"
#include "remote/RemoteKeyMsg.h"

namespace {

// The real profile, with every write attempt recorded as "entry=value" in call order.
class RecordingStore final : public ProfileStore {
 public:
  RecordingStore() : ProfileStore("Vellicor", "Quillmark"), m_previous(InstallProfileStore(this)) {}
  ~RecordingStore() override { InstallProfileStore(m_previous); }

  bool StoreProfileInt(const std::string& section, const std::string& entry,
                       std::int32_t nValue) override {
    writes.push_back(section + "/" + entry + "=" + std::to_string(nValue));
    return ProfileStore::StoreProfileInt(section, entry, nValue);
  }
  bool StoreProfileString(const std::string& section, const std::string& entry,
                          const std::string& strValue) override {
    writes.push_back(section + "/" + entry + "=" + strValue);
    return ProfileStore::StoreProfileString(section, entry, strValue);
  }

  std::vector<std::string> writes;

 private:
  ProfileStore* m_previous;
};

class PrefsDlgTest : public ProfileFixture {
 protected:
  void TearDown() override {
    SetMainWindow(nullptr);
    HideOwnVersionRecord(false);
  }
  RecordingSeams seams;
};

const std::vector<std::string> kWrittenValues = {"Background",         "DisengageOnMinimize",
                                                 "MIDI Channel",       "MIDI Input Device",
                                                 "MIDI Output Device", "MIDI Output Device Name",
                                                 "TargetDeviceID"};

std::vector<std::string> Sorted(const QStringList& list) {
  std::vector<std::string> result;
  for (const QString& item : list) result.push_back(item.toStdString());
  std::sort(result.begin(), result.end());
  return result;
}

TEST_F(PrefsDlgTest, AnEmptyProfileIsAFirstRunWithTheDefaultsAndIsSavedAsSevenValues) {
  {
    CPrefsDlg prefs;
    EXPECT_EQ(prefs.m_pApp, &CurrentProfileStore());
    EXPECT_EQ(prefs.m_bFirstRun, 1);
    EXPECT_EQ(prefs.m_nMidiChannel, 1);
    EXPECT_EQ(prefs.m_strBackground, "DarkRivets.bmp");
    EXPECT_STREQ(prefs.GetBackgroundPath(), "DarkRivets.bmp");
    EXPECT_EQ(prefs.m_nMidiInDevice, 0);
    EXPECT_EQ(prefs.m_nMidiOutDevice, 0);
    EXPECT_EQ(prefs.m_nTargetDeviceId, 0);
    EXPECT_EQ(prefs.m_bReleaseOnDeactivate, 1);
    EXPECT_EQ(prefs.m_strVersionFile, "/~vorlik_/h3/ver_qmk.txt");
    EXPECT_EQ(prefs.m_strHostname, kDefaultHostname);
  }
  EXPECT_EQ(Sorted(Entries("Settings")), kWrittenValues);
  EXPECT_EQ(Stored("Settings", "Background").toString(), "DarkRivets.bmp");
  EXPECT_EQ(Stored("Settings", "MIDI Output Device Name").toString(), "") << "no name: the number counts";
  EXPECT_EQ(Stored("Settings", "MIDI Channel").toString(), "1");
  EXPECT_EQ(Stored("Settings", "DisengageOnMinimize").toString(), "1");
  EXPECT_TRUE(seams.Boxes().empty());

  const CPrefsDlg next;
  EXPECT_EQ(next.m_bFirstRun, 0);
  EXPECT_EQ(next.m_nMidiChannel, 1);
}

TEST_F(PrefsDlgTest, StoredValuesAreLoadedByTheirRules) {
  struct Case {
    const char* entry;
    QString stored;
    std::function<void(const CPrefsDlg&)> check;
  };
  const Case cases[] = {
      {"MIDI Channel", "511",
       [](const CPrefsDlg& p) {
         EXPECT_EQ(p.m_nMidiChannel, 1);
         EXPECT_EQ(p.m_bFirstRun, 1);
       }},
      {"MIDI Channel", "255",
       [](const CPrefsDlg& p) {
         EXPECT_EQ(p.m_nMidiChannel, 1);
         EXPECT_EQ(p.m_bFirstRun, 1);
       }},
      {"MIDI Channel", "0",
       [](const CPrefsDlg& p) {
         EXPECT_EQ(p.m_nMidiChannel, 0);
         EXPECT_EQ(p.m_bFirstRun, 0);
       }},
      {"MIDI Channel", "300",
       [](const CPrefsDlg& p) {
         EXPECT_EQ(p.m_nMidiChannel, 44);
         EXPECT_EQ(p.m_bFirstRun, 0);
       }},
      {"MIDI Channel", "seven",
       [](const CPrefsDlg& p) {
         EXPECT_EQ(p.m_nMidiChannel, 1);
         EXPECT_EQ(p.m_bFirstRun, 1);
       }},
      {"TargetDeviceID", "300", [](const CPrefsDlg& p) { EXPECT_EQ(p.m_nTargetDeviceId, 44); }},
      {"TargetDeviceID", "120", [](const CPrefsDlg& p) { EXPECT_EQ(p.m_nTargetDeviceId, 120); }},
      {"MIDI Output Device", "-1", [](const CPrefsDlg& p) { EXPECT_EQ(p.m_nMidiOutDevice, -1); }},
      {"MIDI Output Device", "4294967295",
       [](const CPrefsDlg& p) { EXPECT_EQ(p.m_nMidiOutDevice, -1); }},
      {"MIDI Output Device Name", "midi-monitor:input (JACK)",
       [](const CPrefsDlg& p) { EXPECT_EQ(p.m_strMidiOutDeviceName, "midi-monitor:input (JACK)"); }},
      {"MIDI Input Device", "7", [](const CPrefsDlg& p) { EXPECT_EQ(p.m_nMidiInDevice, 7); }},
      {"DisengageOnMinimize", "0",
       [](const CPrefsDlg& p) { EXPECT_EQ(p.m_bReleaseOnDeactivate, 0); }},
      {"DisengageOnMinimize", "5",
       [](const CPrefsDlg& p) { EXPECT_EQ(p.m_bReleaseOnDeactivate, 5); }},
      {"Background", "",
       [](const CPrefsDlg& p) {
         EXPECT_EQ(p.m_strBackground, "");
         EXPECT_EQ(p.GetBackgroundPath(), nullptr);
       }},
      {"Background", "/srv/images/Slate.bmp",
       [](const CPrefsDlg& p) { EXPECT_STREQ(p.GetBackgroundPath(), "/srv/images/Slate.bmp"); }},
      {"Hostname", "versions.vellicor.example",
       [](const CPrefsDlg& p) {
         EXPECT_EQ(p.m_strHostname, "versions.vellicor.example");
         EXPECT_EQ(p.m_strVersionFile, "/~vorlik_/h3/ver_qmk.txt");
       }},
      {"VersionFile", "/qm/latest.txt",
       [](const CPrefsDlg& p) {
         EXPECT_EQ(p.m_strVersionFile, "/qm/latest.txt");
         EXPECT_EQ(p.m_strHostname, kDefaultHostname);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.entry) + "=" + c.stored.toStdString());
    QFile::remove(FilePath());
    Store("Settings", c.entry, c.stored);
    const CPrefsDlg prefs;
    c.check(prefs);
  }
}

TEST_F(PrefsDlgTest, HandEnteredAddressesAreNeverWrittenBack) {
  Store("Settings", "Hostname", QString("versions.vellicor.example"));
  { const CPrefsDlg prefs; }
  EXPECT_EQ(Stored("Settings", "Hostname").toString(), "versions.vellicor.example");
  EXPECT_FALSE(Stored("Settings", "VersionFile").isValid());
  EXPECT_FALSE(Stored("Settings", "DownloadURL").isValid());
}

TEST_F(PrefsDlgTest, SaveWritesTheBackgroundFirstThenTheIntegersInOrderWithTheOutputsName) {
  RecordingStore recorder;
  CPrefsDlg prefs;
  prefs.m_strBackground = "";
  prefs.m_nMidiChannel = 255;
  prefs.m_nTargetDeviceId = 200;
  prefs.m_nMidiInDevice = -1;
  prefs.m_nMidiOutDevice = 3;
  prefs.m_strMidiOutDeviceName = "midi-monitor:input (JACK)";
  prefs.m_bReleaseOnDeactivate = 0;
  recorder.writes.clear();
  prefs.SaveSettings();
  const std::vector<std::string> expected = {
      "Settings/Background=",          "Settings/MIDI Channel=255",
      "Settings/TargetDeviceID=200",   "Settings/MIDI Input Device=-1",
      "Settings/MIDI Output Device=3", "Settings/MIDI Output Device Name=midi-monitor:input (JACK)",
      "Settings/DisengageOnMinimize=0"};
  EXPECT_EQ(recorder.writes, expected);
  EXPECT_EQ(Stored("Settings", "Background").toString(), "");
  EXPECT_TRUE(seams.Boxes().empty());
}

TEST_F(PrefsDlgTest, AnUnwritableProfileShowsTheMessageOncePerSaveAndWritesNoInteger) {
  int panel = 0;
  for (OwnerWindow owner : {OwnerWindow{nullptr}, OwnerWindow{&panel}}) {
    SCOPED_TRACE(owner ? "with a main window" : "without a main window");
    RecordingSeams boxes;
    SetMainWindow(owner);
    MakeProfileUnwritable();
    {
      RecordingStore recorder;
      CPrefsDlg prefs;
      EXPECT_EQ(prefs.m_bFirstRun, 1);
      prefs.SaveSettings();
      ASSERT_EQ(boxes.Boxes().size(), 1u);
      EXPECT_EQ(boxes.Boxes()[0].owner, owner);
      EXPECT_EQ(boxes.Boxes()[0].text, "Could not write to " + FilePath().toStdString() + ": " + std::strerror(ENOTDIR) + ".");
      EXPECT_EQ(boxes.Boxes()[0].caption, "Error");
      EXPECT_EQ(boxes.Boxes()[0].style, QM_MB_OK);
      EXPECT_EQ(recorder.writes, std::vector<std::string>{"Settings/Background=DarkRivets.bmp"});
      recorder.writes.clear();
      prefs.m_nMidiOutDevice = 1;
    }
    EXPECT_EQ(boxes.Boxes().size(), 2u) << "the end of the run tries again";
    ASSERT_TRUE(QFile::remove(m_root.path() + "/Vellicor"));
    EXPECT_FALSE(QFile::exists(FilePath()));
  }
}

TEST_F(PrefsDlgTest, AHandEditedProfileWithANoteOnTopIsSavedWholeWithoutAMessage) {
  WriteFile("# my studio\n[Settings]\nMIDI%20Channel=2\nVersionFile=/qm/ver,1.txt\n");
  {
    CPrefsDlg prefs;
    EXPECT_EQ(prefs.m_nMidiChannel, 2);
    EXPECT_EQ(prefs.m_strVersionFile, "/qm/ver,1.txt");
    prefs.m_nTargetDeviceId = 7;
    prefs.SaveSettings();
  }
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_EQ(ReadFile().rfind("# my studio\n", 0), 0u);
  const CPrefsDlg next;
  EXPECT_EQ(next.m_bFirstRun, 0);
  EXPECT_EQ(next.m_nMidiChannel, 2);
  EXPECT_EQ(next.m_nTargetDeviceId, 7);
  EXPECT_EQ(next.m_strBackground, "DarkRivets.bmp");
  EXPECT_EQ(store.ReadProfileInt("Settings", "DisengageOnMinimize", -7), 1);
  EXPECT_EQ(store.ReadProfileInt("Settings", "MIDI Output Device", -7), 0);
  EXPECT_EQ(store.ReadProfileInt("Settings", "MIDI Input Device", -7), 0);
}

TEST_F(PrefsDlgTest, EverySettingSurvivesARunThroughTheProfileFile) {
  {
    CPrefsDlg prefs;
    prefs.m_nMidiChannel = 16;
    prefs.m_nTargetDeviceId = 99;
    prefs.m_nMidiInDevice = -1;
    prefs.m_nMidiOutDevice = -1;
    prefs.m_bReleaseOnDeactivate = 0;
    prefs.m_strBackground = "/home/user/My Pictures/a,b.bmp";
  }
  const CPrefsDlg prefs;
  EXPECT_EQ(prefs.m_bFirstRun, 0);
  EXPECT_EQ(prefs.m_nMidiChannel, 16);
  EXPECT_EQ(prefs.m_nTargetDeviceId, 99);
  EXPECT_EQ(prefs.m_nMidiInDevice, -1);
  EXPECT_EQ(prefs.m_nMidiOutDevice, -1);
  EXPECT_EQ(prefs.m_bReleaseOnDeactivate, 0);
  EXPECT_EQ(prefs.m_strBackground, "/home/user/My Pictures/a,b.bmp");
}

TEST_F(PrefsDlgTest, VersionTextMailtoAndWebsiteComeFromTheVersionRecord) {
  const CPrefsDlg prefs;
  EXPECT_EQ(prefs.m_strVersionText, "Quillmark version 1.0.0.0");
  EXPECT_EQ(prefs.m_strMailtoUrl,
            "mailto:quillmark@vellicor.example?Subject=Quillmark version 1.0.0.0");
  EXPECT_EQ(prefs.m_strWebsiteUrl, "http://www.vellicor.example/quillmark/");
}

TEST_F(PrefsDlgTest, WithoutAVersionRecordTheTextIsTheExecutablesPath) {
  HideOwnVersionRecord(true);
  const std::string path = std::filesystem::read_symlink("/proc/self/exe").string();
  const CPrefsDlg prefs;
  EXPECT_EQ(prefs.m_strVersionText, path);
  EXPECT_EQ(prefs.m_strMailtoUrl, "mailto:quillmark@vellicor.example?Subject=" + path);
}

// The MIDI side reads the holder's fields through g_pPrefsDlg when it sends.
class PrefsWiringTest : public PrefsDlgTest {
 protected:
  void SetUp() override {
    PrefsDlgTest::SetUp();
    ASSERT_EQ(StreamLibInit(&fake, &ui), 1);
    g_pMidiXmit = &port;
  }
  void TearDown() override {
    SetPrefsDlg(nullptr);
    g_pMidiXmit = nullptr;
    port.ReleasePort();
    EXPECT_EQ(StreamLibExit(), 1);
    PrefsDlgTest::TearDown();
  }
  FakeMidiServices fake;
  ManualUiQueue ui;
  CMidiXmit port;
};

TEST_F(PrefsWiringTest, TheHolderFeedsTheTransmitPortAndTheRemoteKeyMessage) {
  Store("Settings", "TargetDeviceID", 99);
  Store("Settings", "MIDI Output Device", 1);
  CPrefsDlg prefs;
  SetPrefsDlg(&prefs);
  EXPECT_EQ(g_pPrefsDlg, &prefs);

  const CRemoteKeyMsg message('0', 'C');
  EXPECT_EQ(message.Data()[3], 0x63);
  EXPECT_EQ(message.SendResult(), 1);
  EXPECT_EQ(fake.LastOpenedDevice(), 1u);

  // Read at the moment of use, not when the holder was installed.
  prefs.m_nTargetDeviceId = 5;
  prefs.m_nMidiOutDevice = 0;
  port.ReleasePort();
  EXPECT_EQ(CRemoteKeyMsg().Data()[3], 0x05);
  EXPECT_EQ(fake.LastOpenedDevice(), 0u);

  // A stored name decides over the number.
  prefs.m_strMidiOutDeviceName = "Fake Out B";
  port.ReleasePort();
  EXPECT_EQ(CRemoteKeyMsg().SendResult(), 1);
  EXPECT_EQ(fake.LastOpenedDevice(), 1u);

  SetPrefsDlg(nullptr);
  EXPECT_EQ(CurrentTargetDeviceId(), 0);
  EXPECT_EQ(CurrentMidiOutDevice(), 0);
}

}  // namespace
