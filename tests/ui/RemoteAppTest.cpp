#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>

#include "FakeMidiServices.h"
#include "desktop/ManualUiQueue.h"
#include "RecordingSeams.h"
#include "desktop/MainWindow.h"
#include "settings/PrefsDlg.h"
#include "settings/ProfileStore.h"
#include "app/RemoteApp.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "ui/qt/PanelDlg.h"

namespace {

class RemoteAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProfileStore& profile = CurrentProfileStore();
    profile.DeleteSection(kSettingsSection);
    // A stored channel: not a first run, so the panel comes up at once.
    ASSERT_TRUE(profile.StoreProfileInt(kSettingsSection, "MIDI Channel", 1));
  }
  void TearDown() override { theApp.UseMidiServices(nullptr, nullptr); }

  // Runs the whole program; `act` runs once the panel's loop is up.
  void RunProgram(const std::function<void(CPanelDlg&)>& act) { RunProgram(fake, act); }
  void RunProgram(FakeMidiServices& services, const std::function<void(CPanelDlg&)>& act) {
    theApp.UseMidiServices(&services, &ui);
    QTimer::singleShot(0, [&] {
      ASSERT_NE(theApp.m_pMainWnd, nullptr);
      EXPECT_EQ(GetMainWindow(), theApp.m_pMainWnd);
      // A key first, so that the port has a device to close at the end.
      theApp.m_pMainWnd->OnCommand(80, 0);
      ui.Pump();
      act(*theApp.m_pMainWnd);
    });
    EXPECT_FALSE(theApp.InitInstance());
  }

  FakeMidiServices fake;
  ManualUiQueue ui;
  RecordingSeams seams;
};

TEST_F(RemoteAppTest, EveryWayOutRunsTheSameTearDownAndSavesTheSettings) {
  const std::vector<std::pair<const char*, std::function<void(CPanelDlg&)>>> ways = {
      {"Quit", [](CPanelDlg& panel) { qobject_cast<QPushButton*>(panel.Control(1))->click(); }},
      {"Exit", [](CPanelDlg& panel) {
         for (QAction* menu : panel.MenuBar()->actions()) {
           for (QAction* item : menu->menu()->actions()) {
             if (item->data().toUInt() == ID_FILE_EXIT) item->trigger();
           }
         }
       }},
      {"Escape", [](CPanelDlg& panel) {
         panel.activateWindow();
         QApplication::processEvents();
         ASSERT_NE(QApplication::focusWidget(), nullptr);
         QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
       }},
      {"close box", [](CPanelDlg& panel) { panel.close(); }},
  };
  for (const auto& [name, act] : ways) {
    SCOPED_TRACE(name);
    CurrentProfileStore().DeleteSection(kSettingsSection);
    CurrentProfileStore().StoreProfileInt(kSettingsSection, "MIDI Channel", 1);
    FakeMidiServices device;
    RunProgram(device, act);
    EXPECT_EQ(device.LongMessages().size(), 1u) << "the key before the end went out";
    EXPECT_EQ(device.OpenDevices(), 0) << "the port released its device";
    EXPECT_EQ(g_pMidiXmit, nullptr);
    EXPECT_EQ(g_pPrefsDlg, nullptr);
    EXPECT_EQ(GetMainWindow(), nullptr);
    EXPECT_EQ(StreamLibServices(), nullptr) << "the engine is shut down";
    const ProfileStore& profile = CurrentProfileStore();
    EXPECT_EQ(profile.ReadProfileString(kSettingsSection, "Background", "<none>"), "DarkRivets.bmp");
    EXPECT_EQ(profile.ReadProfileInt(kSettingsSection, "DisengageOnMinimize", -7), 1);
    EXPECT_EQ(profile.ReadProfileInt(kSettingsSection, "MIDI Output Device", -7), 0);
    EXPECT_TRUE(seams.Boxes().empty());
  }
}

// A profile whose "Background" cannot be written.
class BackgroundRefusingStore final : public ProfileStore {
 public:
  BackgroundRefusingStore() : ProfileStore("Vellicor", "Quillmark"), m_previous(InstallProfileStore(this)) {}
  ~BackgroundRefusingStore() override { InstallProfileStore(m_previous); }
  bool StoreProfileString(const std::string& section, const std::string& entry,
                          const std::string& strValue) override {
    return entry != "Background" && ProfileStore::StoreProfileString(section, entry, strValue);
  }
  std::string WriteFailureText() const override { return "Could not write to the test's profile."; }

 private:
  ProfileStore* m_previous;
};

TEST_F(RemoteAppTest, TheEndOfRunSaveFailureIsShownWithoutAnOwner) {
  BackgroundRefusingStore store;
  RunProgram([](CPanelDlg& panel) { panel.OnCommand(1, 0); });
  const auto boxes = seams.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Could not write to the test's profile.");
  EXPECT_EQ(boxes[0].owner, nullptr) << "the panel is gone by then";
}

// Ended by the desktop: nobody may be there to close a box, so the failure goes to
// standard error and the end is not held up.
TEST_F(RemoteAppTest, AtATerminationRequestTheSaveFailureGoesToStandardErrorWithoutABox) {
  BackgroundRefusingStore store;
  testing::internal::CaptureStderr();
  RunProgram([](CPanelDlg&) { theApp.OnTerminate(); });
  const std::string told = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_NE(told.find("quillmark: Could not write to the test's profile.\n"), std::string::npos) << told;
  EXPECT_EQ(store.ReadProfileInt(kSettingsSection, "MIDI Channel", -7), 1) << "the save was tried";
}

TEST_F(RemoteAppTest, WebsiteOpensTheProductPageThroughTheShell) {
  RunProgram([](CPanelDlg& panel) {
    panel.OnCommand(ID_HELP_WEBSITE, 0);
    panel.OnCommand(1, 0);
  });
  ASSERT_EQ(seams.Opened().size(), 1u);
  EXPECT_EQ(seams.Opened()[0], "http://www.vellicor.example/quillmark/");
}

TEST_F(RemoteAppTest, PreferencesCommandReleasesThePortFirst) {
  RunProgram([](CPanelDlg& panel) {
    ASSERT_TRUE(g_pMidiXmit->IsOpen());
    // Whatever the window does, the port is released before it shows.
    QTimer::singleShot(0, [] {
      if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->objectName() != "panel") modal->close();
    });
    panel.OnCommand(ID_FILE_PREFERENCES, 0);
    EXPECT_FALSE(g_pMidiXmit->IsOpen());
    panel.OnCommand(1, 0);
  });
}

}  // namespace
