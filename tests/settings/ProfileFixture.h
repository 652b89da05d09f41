// A private, empty profile for each test in a temporary folder, where the store under
// test and the test's own reads and writes meet. The test's own access goes through the
// desktop toolkit's INI reader and writer, which wrote the profiles of earlier releases.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <optional>
#include <string>

#include "ProfileHome.h"
#include "RecordingSeams.h"
#include "settings/ProfileStore.h"

// Set by main before any test runs.
extern std::string g_defaultProfileLocation;
extern std::string g_xdgConfigHome;

class ProfileFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.isValid());
    m_home.emplace(m_root.path().toStdString());
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
  // The profile file's text, written or read byte for byte, as a hand edit would.
  void WriteFile(const std::string& text) { WriteText(FilePath(), text); }
  std::string ReadFile() const { return ReadText(FilePath()); }
  static void WriteText(const QString& path, const std::string& text) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(text.data(), static_cast<qint64>(text.size())), static_cast<qint64>(text.size()));
  }
  static std::string ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
  }
  // No user, root included, can write the profile: the company folder is a plain file.
  void MakeProfileUnwritable() {
    QFile blocker(m_root.path() + "/Vellicor");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  }

  QTemporaryDir m_root;
  std::optional<ScopedProfileHome> m_home;
  ProfileStore store{"Vellicor", "Quillmark"};
};
