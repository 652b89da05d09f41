// A settings holder on a private, empty profile of its own, the fake MIDI devices for
// the lists, recorded boxes, a scripted file dialog and a scratch current directory.
// RunPrefs shows the Preferences window modally and lets the test act on it from inside
// the modal loop; whatever the test leaves open is cancelled.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakeMidiServices.h"
#include "desktop/ManualUiQueue.h"
#include "ProfileHome.h"
#include "RecordingSeams.h"
#include "settings/PrefsDlg.h"
#include "settings/ProfileStore.h"
#include "midi/OutputStream.h"
#include "ui/qt/PrefsWindow.h"

class PrefsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_profile.isValid());
    ASSERT_TRUE(m_work.isValid());
    m_home.emplace(m_profile.path().toStdString());
    m_previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_work.path()));
    ASSERT_EQ(StreamLibInit(&fake, &ui), 1);
    m_previousDialog = InstallFileOpenDialog([this](const FileOpenRequest& request) {
      requests.push_back(request);
      return fileChoice;
    });
  }
  void TearDown() override {
    InstallFileOpenDialog(m_previousDialog);
    SetPrefsDlg(nullptr);
    prefs.reset();
    EXPECT_EQ(StreamLibExit(), 1);
    QDir::setCurrent(m_previousDir);
    m_home.reset();  // back to the run's own profile folder for the other tests
  }

  // The holder, built now so that it reads what the test stored.
  CPrefsDlg& Prefs() {
    if (!prefs) {
      prefs = std::make_unique<CPrefsDlg>();
      SetPrefsDlg(prefs.get());
    }
    return *prefs;
  }

  static QDialog* OpenWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->objectName() == QLatin1String("preferences") && widget->isVisible()) {
        return qobject_cast<QDialog*>(widget);
      }
    }
    return nullptr;
  }

  // Shows the window; act runs inside its modal loop. Returns DoModal's result.
  int RunPrefs(const std::function<void(QDialog&)>& act) {
    CPrefsDlg& holder = Prefs();
    QTimer::singleShot(0, [&act] {
      QDialog* window = OpenWindow();
      if (!window) {
        ADD_FAILURE() << "the Preferences window is not shown";
        for (QWidget* widget : QApplication::topLevelWidgets()) {
          if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) dialog->reject();
        }
        return;
      }
      act(*window);
      if (window->isVisible()) window->reject();
    });
    return holder.DoModal();
  }

  template <typename T>
  static T* Control(QDialog& window, int id) {
    return window.findChild<T*>(QStringLiteral("control%1").arg(id));
  }

  static void Store(const std::string& section, const std::string& entry, const std::string& value) {
    ASSERT_TRUE(CurrentProfileStore().StoreProfileString(section, entry, value));
  }
  static void StoreInt(const std::string& entry, std::int32_t value) {
    ASSERT_TRUE(CurrentProfileStore().StoreProfileInt(kSettingsSection, entry, value));
  }
  static std::optional<std::string> Stored(const std::string& section, const std::string& entry) {
    const std::string missing = "\x01missing";
    std::string value = CurrentProfileStore().ReadProfileString(section, entry, missing);
    if (value == missing) return std::nullopt;
    return value;
  }
  static std::int32_t StoredInt(const std::string& entry) {
    return CurrentProfileStore().ReadProfileInt(kSettingsSection, entry, -12345);
  }

  // A file or folder in the scratch directory; returns its absolute path.
  std::string MakeFile(const QString& name) {
    QFile file(m_work.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    return QDir::cleanPath(m_work.filePath(name)).toStdString();
  }
  std::string MakeDir(const QString& name) {
    EXPECT_TRUE(QDir(m_work.path()).mkdir(name));
    return QDir::cleanPath(m_work.filePath(name)).toStdString();
  }
  std::string InWork(const QString& name) const { return QDir::cleanPath(m_work.filePath(name)).toStdString(); }

  FakeMidiServices fake;
  ManualUiQueue ui;
  RecordingSeams seams;
  std::unique_ptr<CPrefsDlg> prefs;
  std::vector<FileOpenRequest> requests;
  std::optional<QString> fileChoice;

 private:
  QTemporaryDir m_profile;
  std::optional<ScopedProfileHome> m_home;
  QTemporaryDir m_work;
  QString m_previousDir;
  FileOpenDialogFunction m_previousDialog;
};
