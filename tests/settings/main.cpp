#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdlib>

#include "ProfileFixture.h"

std::string g_defaultProfileLocation;
std::string g_xdgConfigHome;

int main(int argc, char** argv) {
  // No test may touch the real profile of whoever runs them: the default location is
  // pointed into a scratch folder before anything reads it, and the fixtures then move
  // each test's profile into a folder of its own.
  QTemporaryDir xdgConfigHome;
  if (!xdgConfigHome.isValid()) return 2;
  g_xdgConfigHome = xdgConfigHome.path().toStdString();
  setenv("XDG_CONFIG_HOME", g_xdgConfigHome.c_str(), 1);
  g_defaultProfileLocation = ProfileStore("Vellicor", "Quillmark").Location();

  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
