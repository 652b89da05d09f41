// main() for the tests that need a QApplication: the offscreen platform unless told
// otherwise, and a private, empty per-user profile for the whole run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir profileHome;
  if (!profileHome.isValid()) return 1;
  setenv("XDG_CONFIG_HOME", profileHome.path().toLocal8Bit().constData(), 1);
  setenv("QT_QPA_PLATFORM", std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "offscreen", 1);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmark"));
  return RUN_ALL_TESTS();
}
