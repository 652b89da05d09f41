#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QtTest/QTest>

#include "PrefsFixture.h"
#include "midi/MidiXmit.h"
#include "settings/BuildConfig.h"
#include "ui/qt/UpDownCtrl.h"

namespace {

using PrefsTest = PrefsFixture;

constexpr char kRange0To255[] = "Please enter an integer between 0 and 255.";
constexpr char kBadBackground[] = "Selected background image file is not valid.";

QStringList Items(QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

void ClickOk(QDialog& window) {
  window.findChild<QPushButton*>(QStringLiteral("control%1").arg(QM_IDOK))->click();
}

TEST_F(PrefsTest, EmptyProfileOpensCentredWithTheTemplateTheDevicesAndTheDefaults) {
  Prefs();
  int result = RunPrefs([&](QDialog& window) {
    EXPECT_EQ(window.windowTitle(), "Preferences");
    EXPECT_TRUE(window.isModal());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window.frameGeometry().center() - screen.center()).manhattanLength(), 4);

    struct Expect {
      int id;
      QString text;
      bool enabled;
    };
    const std::vector<Expect> controls = {
        {1001, "1", false}, {1002, "", false}, {1005, "0", true},    {1006, "", true},
        {1003, "", false},  {1004, "", true},  {1007, "", true},     {1017, "DarkRivets.bmp", true},
        {1019, "&...", true}, {QM_IDOK, "OK", true}, {QM_IDCANCEL, "Cancel", true}};
    for (const Expect& expect : controls) {
      SCOPED_TRACE(expect.id);
      QWidget* control = Control<QWidget>(window, expect.id);
      ASSERT_NE(control, nullptr);
      EXPECT_EQ(control->isEnabled(), expect.enabled);
      if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        EXPECT_EQ(edit->text(), expect.text);
      } else if (auto* button = qobject_cast<QPushButton*>(control)) {
        EXPECT_EQ(button->text(), expect.text);
      } else if (auto* box = qobject_cast<QComboBox*>(control); box && box->isEditable()) {
        EXPECT_EQ(box->currentText(), expect.text);
      }
    }
    EXPECT_TRUE(Control<QPushButton>(window, QM_IDOK)->isDefault());
    EXPECT_TRUE(Control<QCheckBox>(window, 1007)->isChecked());
    EXPECT_EQ(window.focusWidget(), Control<QWidget>(window, 1005)) << "first enabled tab stop";

    // Enabled tab stops in template order.
    std::vector<int> order;
    QWidget* widget = Control<QWidget>(window, 1005);
    for (int guard = 0; guard < 20 && widget; ++guard) {
      const int id = widget->property("controlId").toInt();
      if (!order.empty() && id == order.front()) break;
      if (widget->isEnabled() && widget->focusPolicy() == Qt::StrongFocus && widget->parentWidget() == &window) order.push_back(id);
      widget = widget->nextInFocusChain();
    }
    EXPECT_EQ(order, (std::vector<int>{1005, 1006, 1004, 1007, 1017, 1019, QM_IDOK, QM_IDCANCEL}));

    // List position is the device number; the virtual port comes last.
    EXPECT_EQ(Items(Control<QComboBox>(window, 1004)),
              QStringList({"Fake Out A", "Fake Out B", "Quillmark virtual port"}));
    EXPECT_EQ(Items(Control<QComboBox>(window, 1003)), QStringList({"Fake In A"}));
    EXPECT_EQ(Control<QComboBox>(window, 1004)->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>(window, 1003)->currentIndex(), 0);

    auto* channelSpin = Control<CUpDownCtrl>(window, 1002);
    auto* idSpin = Control<CUpDownCtrl>(window, 1006);
    EXPECT_EQ(std::make_pair(channelSpin->Lower(), channelSpin->Upper()), std::make_pair(1, 16));
    EXPECT_EQ(std::make_pair(idSpin->Lower(), idSpin->Upper()), std::make_pair(0, 99));
    EXPECT_EQ(channelSpin->Buddy(), Control<QLineEdit>(window, 1001));
    EXPECT_EQ(idSpin->Buddy(), Control<QLineEdit>(window, 1005));
    EXPECT_EQ(window.findChild<QLabel*>("static1")->buddy(), Control<QWidget>(window, 1005)) << "&Device ID";
  });
  EXPECT_EQ(result, QM_IDCANCEL);
  EXPECT_EQ(prefs->m_pRecentBackgrounds, nullptr);
  EXPECT_EQ(prefs->m_cbMidiOut, nullptr);
}

TEST_F(PrefsTest, RecentBackgroundsDropTheMissingAndTheFoldersAndOkRewritesThem) {
  const std::string a = MakeFile("a.bmp");
  const std::string c = MakeFile("c.bmp");
  const std::string e = MakeFile("e.bmp");
  const std::string d = MakeDir("d.bmp");
  const std::vector<std::string> stored = {a, InWork("b.bmp"), c, d, e};
  for (std::size_t i = 0; i < stored.size(); ++i) {
    Store(kRecentBackgroundsSection, "File" + std::to_string(i + 1), stored[i]);
  }
  Store(kRecentBackgroundsSection, "File7", "");
  Store(kRecentBackgroundsSection, "File8", InWork("wild*.bmp"));
  MakeFile("wild*.bmp");

  EXPECT_EQ(RunPrefs([&](QDialog& window) {
              auto* box = Control<QComboBox>(window, 1017);
              EXPECT_EQ(Items(box), QStringList({QString::fromStdString(a), QString::fromStdString(c),
                                                 QString::fromStdString(e)}));
              box->setCurrentIndex(0);  // the user picks A
              ClickOk(window);
            }),
            QM_IDOK);
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_EQ(Stored(kSettingsSection, "Background"), a);
  const std::vector<std::optional<std::string>> expected = {a, c, e, std::nullopt, std::nullopt};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Stored(kRecentBackgroundsSection, "File" + std::to_string(i + 1)), expected[i]) << i + 1;
  }
  EXPECT_EQ(Stored(kRecentBackgroundsSection, "File8"), std::nullopt);
}

TEST_F(PrefsTest, OkStoresWhatTheWindowShows) {
  MakeFile("DarkRivets.bmp");
  StoreInt("MIDI Output Device", 0);
  EXPECT_EQ(RunPrefs([&](QDialog& window) {
              Control<QComboBox>(window, 1004)->setCurrentIndex(1);
              QLineEdit* id = Control<QLineEdit>(window, 1005);
              id->selectAll();
              QTest::keyClicks(id, "42");
              QTest::mouseClick(Control<QCheckBox>(window, 1007), Qt::LeftButton);
              QTest::keyClick(id, Qt::Key_Return);  // Enter presses OK
            }),
            QM_IDOK);
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_EQ(StoredInt("MIDI Output Device"), 1);
  EXPECT_EQ(StoredInt("TargetDeviceID"), 42);
  EXPECT_EQ(StoredInt("DisengageOnMinimize"), 0);
  EXPECT_EQ(StoredInt("MIDI Channel"), 1);
  EXPECT_EQ(StoredInt("MIDI Input Device"), 0);
  EXPECT_EQ(Stored(kSettingsSection, "Background"), "DarkRivets.bmp") << "stored as typed";
  EXPECT_EQ(Stored(kRecentBackgroundsSection, "File1"), InWork("DarkRivets.bmp")) << "recorded absolute";
  EXPECT_EQ(prefs->m_nMidiOutDevice, 1);
  EXPECT_EQ(prefs->m_nTargetDeviceId, 42);
}

TEST_F(PrefsTest, TheDefaultBackgroundBesideTheProgramIsValidFromAnyFolder) {
  // The work folder holds no DarkRivets.bmp; the build puts one beside the programs.
  EXPECT_EQ(RunPrefs([&](QDialog& window) { QTest::keyClick(Control<QLineEdit>(window, 1005), Qt::Key_Return); }),
            QM_IDOK);
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_EQ(Stored(kSettingsSection, "Background"), "DarkRivets.bmp") << "stored as typed";
  EXPECT_EQ(Stored(kRecentBackgroundsSection, "File1"),
            QDir::cleanPath(QCoreApplication::applicationDirPath() + "/DarkRivets.bmp").toStdString())
      << "recorded where it was found";
}

TEST_F(PrefsTest, DeviceIdClampsTheUsersChangesAtOnce) {
  struct Case {
    const char* typed;  // after clearing the field
    int upSteps;        // then presses of the Up arrow
    QString shown;
  };
  const std::vector<Case> cases = {
      {"150", 0, "99"}, {"100", 0, "99"}, {"99", 0, "99"}, {"7", 0, "7"},
      {"", 0, ""},      {"98", 3, "99"},  {"", 1, "1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    RunPrefs([&](QDialog& window) {
      QLineEdit* id = Control<QLineEdit>(window, 1005);
      id->clear();
      QTest::keyClicks(id, c.typed);
      for (int i = 0; i < c.upSteps; ++i) QTest::keyClick(id, Qt::Key_Up);
      EXPECT_EQ(id->text(), c.shown);
    });
  }
  EXPECT_TRUE(seams.Boxes().empty());
}

TEST_F(PrefsTest, NumberFieldsRefuseBadTextWithTheExactMessage) {
  struct Case {
    QString text;  // put in as a paste would
    const char* message;
    int deviceId;  // the field afterwards
  };
  const std::vector<Case> cases = {
      {"", kRange0To255, 0},   {"12a", kRange0To255, 0}, {"1 2", kRange0To255, 0},
      {" 7\t", nullptr, 7},    {"-3", nullptr, 0},       {"250", nullptr, 99},
  };
  MakeFile("DarkRivets.bmp");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    const std::size_t before = seams.Boxes().size();
    QDialog* shown = nullptr;
    QString focusText;
    const int result = RunPrefs([&](QDialog& window) {
      shown = &window;
      QLineEdit* id = Control<QLineEdit>(window, 1005);
      id->setText(c.text);
      ClickOk(window);
      if (window.isVisible()) {
        EXPECT_EQ(window.focusWidget(), id);
        EXPECT_EQ(id->selectedText(), id->text());
      }
    });
    const auto boxes = seams.Boxes();
    if (c.message) {
      EXPECT_EQ(result, QM_IDCANCEL) << "the window stayed open";
      ASSERT_EQ(boxes.size(), before + 1);
      EXPECT_EQ(boxes.back().text, c.message);
      EXPECT_EQ(boxes.back().caption, "Quillmark");
      EXPECT_EQ(boxes.back().style, QM_MB_ICONEXCLAMATION | QM_MB_OK);
      EXPECT_EQ(boxes.back().owner, static_cast<QWidget*>(shown));
    } else {
      EXPECT_EQ(result, QM_IDOK);
      EXPECT_EQ(boxes.size(), before);
    }
    EXPECT_EQ(prefs->m_nTargetDeviceId, c.deviceId);
    prefs->m_nTargetDeviceId = 0;
  }
}

TEST_F(PrefsTest, LoadedValuesAreNotClampedAndOutOfRangeOnesOnlyCancel) {
  struct Case {
    const char* entry;
    std::int32_t stored;
    int field;
    QString shown;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"MIDI Channel", 0, 1001, "0", "Please enter an integer between 1 and 16."},
      {"MIDI Channel", 17, 1001, "17", "Please enter an integer between 1 and 16."},
      {"TargetDeviceID", 150, 1005, "150", "Please enter an integer between 0 and 99."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry + std::to_string(c.stored));
    prefs.reset();  // saves what it held
    CurrentProfileStore().DeleteSection(kSettingsSection);
    StoreInt(c.entry, c.stored);
    const std::size_t before = seams.Boxes().size();
    const int result = RunPrefs([&](QDialog& window) {
      EXPECT_EQ(Control<QLineEdit>(window, c.field)->text(), c.shown);
      ClickOk(window);
      EXPECT_TRUE(window.isVisible());
      ClickOk(window);
      EXPECT_TRUE(window.isVisible());
      Control<QPushButton>(window, QM_IDCANCEL)->click();
    });
    EXPECT_EQ(result, QM_IDCANCEL);
    const auto boxes = seams.Boxes();
    ASSERT_EQ(boxes.size(), before + 2);
    EXPECT_EQ(boxes.back().text, c.message);
    EXPECT_EQ(boxes.back().style, QM_MB_ICONEXCLAMATION | QM_MB_OK);
    EXPECT_EQ(StoredInt(c.entry), c.stored) << "nothing saved";
  }
}

TEST_F(PrefsTest, AnInputOutsideTheListShowsNoSelectionAndStoresMinusOne) {
  StoreInt("MIDI Input Device", -1);
  fake.inNames.clear();
  EXPECT_EQ(RunPrefs([&](QDialog& window) {
              EXPECT_EQ(Control<QComboBox>(window, 1003)->count(), 0);
              Control<QComboBox>(window, 1017)->setEditText("");
              ClickOk(window);
            }),
            QM_IDOK);
  EXPECT_EQ(StoredInt("MIDI Input Device"), -1);
}

TEST_F(PrefsTest, TheOutputListNamesTransportsOffersTheVirtualPortAndKeepsWhatIsNotThere) {
  const QString virtualPort = "Quillmark virtual port";
  struct Case {
    const char* what;
    std::vector<std::string> outputs;
    std::int32_t device;
    std::string name;
    QStringList items;
    int shown;        // the selected item, -1 for none
    int pick;         // the item the user picks, -1: leaves it
    std::int32_t storedDevice;
    std::string storedName;
  };
  const std::vector<Case> cases = {
      {"an older profile gains the name",
       {"midi-monitor:input (JACK)", "USB MIDI Interface:0 (ALSA)"}, 1, "",
       {"midi-monitor:input (JACK)", "USB MIDI Interface:0 (ALSA)", virtualPort}, 1, -1,
       1, "USB MIDI Interface:0 (ALSA)"},
      {"the name is found where the list now has it",
       {"other:in (JACK)", "midi-monitor:input (JACK)"}, 0, "midi-monitor:input (JACK)",
       {"other:in (JACK)", "midi-monitor:input (JACK)", virtualPort}, 1, -1, 1, "midi-monitor:input (JACK)"},
      {"a stored output that is gone stays chosen",
       {"midi-monitor:input (JACK)"}, 1, "USB MIDI Interface:0 (ALSA)",
       {"midi-monitor:input (JACK)", "USB MIDI Interface:0 (ALSA) (not connected)", virtualPort}, 1, -1,
       1, "USB MIDI Interface:0 (ALSA)"},
      {"no outputs at all", {}, 0, "", {"No MIDI outputs found", virtualPort}, 0, -1, 0, ""},
      {"a number past the list is kept", {"Fake Out A"}, 5, "", {"Fake Out A", virtualPort}, -1, -1, 5, ""},
      {"the virtual port", {"Fake Out A"}, 0, "Fake Out A", {"Fake Out A", virtualPort}, 0, 1, -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetPrefsDlg(nullptr);
    prefs.reset();  // saves what the last case chose; this one starts from its own profile
    StoreInt("MIDI Output Device", c.device);
    Store(kSettingsSection, "MIDI Output Device Name", c.name);
    fake.outNames = c.outputs;
    EXPECT_EQ(RunPrefs([&](QDialog& window) {
                auto* box = Control<QComboBox>(window, 1004);
                EXPECT_EQ(Items(box), c.items);
                EXPECT_EQ(box->currentIndex(), c.shown);
                if (c.pick >= 0) box->setCurrentIndex(c.pick);
                Control<QComboBox>(window, 1017)->setEditText("");
                ClickOk(window);
              }),
              QM_IDOK);
    EXPECT_EQ(StoredInt("MIDI Output Device"), c.storedDevice);
    EXPECT_EQ(Stored(kSettingsSection, "MIDI Output Device Name"), c.storedName);
  }
  // The last choice, the virtual port, is what the transmit port opens.
  CMidiXmit port;
  const unsigned char nothing = 0;
  EXPECT_EQ(port.Send(0, &nothing), 1);
  EXPECT_EQ(fake.LastOpenedDevice(), QM_MIDI_MAPPER);
  port.ReleasePort();
}

TEST_F(PrefsTest, TheOutputListIsTakenAfreshWhenItDropsDown) {
  Store(kSettingsSection, "MIDI Output Device Name", "Fake Out B");
  EXPECT_EQ(RunPrefs([&](QDialog& window) {
              auto* box = Control<QComboBox>(window, 1004);
              box->setCurrentIndex(0);  // the user's choice so far: Fake Out A
              fake.outNames = {"new:in (JACK)", "Fake Out A"};
              QTest::mouseClick(box, Qt::LeftButton);
              box->hidePopup();
              EXPECT_EQ(Items(box), QStringList({"new:in (JACK)", "Fake Out A", "Fake Out B (not connected)",
                                                 "Quillmark virtual port"}));
              EXPECT_EQ(box->currentText(), "Fake Out A");
              fake.outNames.clear();
              QTest::keyClick(box, Qt::Key_F4);
              box->hidePopup();
              EXPECT_EQ(Items(box), QStringList({"No MIDI outputs found", "Fake Out B (not connected)",
                                                 "Fake Out A (not connected)", "Quillmark virtual port"}));
              EXPECT_EQ(box->currentText(), "Fake Out A (not connected)");
            }),
            QM_IDCANCEL);
}

TEST_F(PrefsTest, EmptyBackgroundIsAcceptedAndLeavesAGapInTheRecentList) {
  const std::string a = MakeFile("a.bmp");
  Store(kRecentBackgroundsSection, "File1", a);
  EXPECT_EQ(RunPrefs([&](QDialog& window) {
              Control<QComboBox>(window, 1017)->setEditText("");
              ClickOk(window);
            }),
            QM_IDOK);
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_EQ(Stored(kSettingsSection, "Background"), "");
  EXPECT_EQ(prefs->GetBackgroundPath(), nullptr);
  EXPECT_EQ(Stored(kRecentBackgroundsSection, "File1"), std::nullopt);
  EXPECT_EQ(Stored(kRecentBackgroundsSection, "File2"), a);
}

TEST_F(PrefsTest, BadBackgroundIsRefusedAfterTheOtherFieldsWereTaken) {
  const std::string folder = MakeDir("folder.bmp");
  for (const std::string& path : {InWork("missing.bmp"), folder}) {
    SCOPED_TRACE(path);
    const std::size_t before = seams.Boxes().size();
    QDialog* shown = nullptr;
    const int result = RunPrefs([&](QDialog& window) {
      shown = &window;
      Control<QComboBox>(window, 1017)->setEditText(QString::fromStdString(path));
      QLineEdit* id = Control<QLineEdit>(window, 1005);
      id->clear();
      QTest::keyClicks(id, "42");
      ClickOk(window);
      EXPECT_TRUE(window.isVisible());
      EXPECT_EQ(window.focusWidget(), Control<QWidget>(window, 1007));
    });
    EXPECT_EQ(result, QM_IDCANCEL);
    const auto boxes = seams.Boxes();
    ASSERT_EQ(boxes.size(), before + 1);
    EXPECT_EQ(boxes.back().text, kBadBackground);
    EXPECT_EQ(boxes.back().caption, "Quillmark");
    EXPECT_EQ(boxes.back().style, QM_MB_OK);
    EXPECT_EQ(boxes.back().owner, static_cast<QWidget*>(shown));
    // The failed save kept what it had exchanged; nothing reached the profile.
    EXPECT_EQ(prefs->m_strBackground, path);
    EXPECT_EQ(prefs->m_nTargetDeviceId, 42);
    EXPECT_EQ(StoredInt("TargetDeviceID"), -12345);
    EXPECT_EQ(Stored(kRecentBackgroundsSection, "File1"), std::nullopt);
  }
}

TEST_F(PrefsTest, CancelExchangesNothingAndWritesNothing) {
  MakeFile("x.bmp");
  EXPECT_EQ(RunPrefs([&](QDialog& window) {
              QLineEdit* id = Control<QLineEdit>(window, 1005);
              id->clear();
              QTest::keyClicks(id, "42");
              Control<QComboBox>(window, 1017)->setEditText("x.bmp");
              QTest::keyClick(id, Qt::Key_Escape);
            }),
            QM_IDCANCEL);
  EXPECT_EQ(prefs->m_nTargetDeviceId, 0);
  EXPECT_EQ(prefs->m_strBackground, "DarkRivets.bmp");
  EXPECT_EQ(StoredInt("TargetDeviceID"), -12345);
  EXPECT_EQ(Stored(kSettingsSection, "Background"), std::nullopt);
}

TEST_F(PrefsTest, BrowseSeedsFromTheSettingAndCancelRestoresIt) {
  const std::string chosen = MakeFile("chosen.bmp");
  struct Case {
    std::string background;
    std::optional<QString> choice;
    QString initialDirectory;
    std::string afterwards;
  };
  const std::vector<Case> cases = {
      {"DarkRivets.bmp", std::nullopt, "", "DarkRivets.bmp"},
      {"/srv/images/a.bmp", std::nullopt, "/srv/images/", "/srv/images/a.bmp"},
      {"/srv/images/a.bmp", QString::fromStdString(chosen), "/srv/images/", chosen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.background);
    requests.clear();
    fileChoice = c.choice;
    Prefs().m_strBackground = c.background;
    RunPrefs([&](QDialog& window) {
      auto* box = Control<QComboBox>(window, 1017);
      box->setEditText("typed before browsing");
      Control<QPushButton>(window, 1019)->click();
      EXPECT_EQ(box->currentText().toStdString(), c.afterwards);
    });
    ASSERT_EQ(requests.size(), 1u);
    const FileOpenRequest& request = requests.front();
    EXPECT_EQ(request.title, "Select Bitmap");
    EXPECT_EQ(request.filter, "Bitmap Files (*.bmp)");
    EXPECT_EQ(request.defaultExtension, "bmp");
    EXPECT_EQ(request.initialFile.toStdString(), c.background);
    EXPECT_EQ(request.initialDirectory, c.initialDirectory);
    EXPECT_EQ(request.owner, OpenWindow() ? OpenWindow() : request.owner);
    // A chosen file is taken even when the window is then cancelled.
    EXPECT_EQ(prefs->m_strBackground, c.afterwards);
  }
}

TEST_F(PrefsTest, ReleaseFlagOutsideZeroToTwoIsResetOnOpening) {
  struct Case {
    std::int32_t stored;
    bool checked;
    std::int32_t afterCancel;
  };
  for (const Case& c : std::vector<Case>{{5, false, 0}, {-1, false, 0}, {2, true, 2}, {0, false, 0}, {1, true, 1}}) {
    SCOPED_TRACE(c.stored);
    prefs.reset();
    CurrentProfileStore().DeleteSection(kSettingsSection);
    StoreInt("DisengageOnMinimize", c.stored);
    EXPECT_EQ(RunPrefs([&](QDialog& window) { EXPECT_EQ(Control<QCheckBox>(window, 1007)->isChecked(), c.checked); }),
              QM_IDCANCEL);
    EXPECT_EQ(prefs->m_bReleaseOnDeactivate, c.afterCancel);
  }
}

}  // namespace
