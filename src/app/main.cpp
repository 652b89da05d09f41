#include <QApplication>

#include "app/QtUserSeams.h"
#include "app/RemoteApp.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmark"));
  QtUserSeams seams;
  InstallUserSeams(&seams);
  theApp.InitInstance();
  InstallUserSeams(nullptr);
  return 0;
}
