// A private, empty profile for each test: QSettings' user path moves into a temporary
// folder, so the store under test and the test's own reads and writes meet there.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <string>

#include "RecordingSeams.h"
#include "settings/ProfileStore.h"

// Set by main before any test runs.
extern std::string g_defaultProfileLocation;
extern std::string g_xdgConfigHome;

class ProfileFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_root.path());
  }

  // The profile file as the store sees it, opened for the test's own direct access.
  QString FilePath() const { return m_root.path() + "/Vellicor/Quillmark.conf"; }

  // Stores a raw value the way a hand edit of the profile would.
  void Store(const QString& section, const QString& entry, const QVariant& value) {
    QSettings file(FilePath(), QSettings::IniFormat);
    file.setValue(section + "/" + entry, value);
    file.sync();
    ASSERT_EQ(file.status(), QSettings::NoError);
  }
  QVariant Stored(const QString& section, const QString& entry) const {
    const QSettings file(FilePath(), QSettings::IniFormat);
    return file.value(section + "/" + entry);
  }
  QStringList Entries(const QString& section) const {
    QSettings file(FilePath(), QSettings::IniFormat);
    file.beginGroup(section);
    return file.childKeys();
  }
  // No user, root included, can write the profile: the company folder is a plain file.
  void MakeProfileUnwritable() {
    QFile blocker(m_root.path() + "/Vellicor");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  }

  QTemporaryDir m_root;
  ProfileStore store{"Vellicor", "Quillmark"};
};
