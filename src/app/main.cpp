#include <QApplication>

#include "app/QtUserSeams.h"
#include "app/RemoteApp.h"
#include "app/TerminationRequests.h"

int main(int argc, char** argv) {
  CatchTerminationRequests();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmark"));
  QtUserSeams seams;
  InstallUserSeams(&seams);
  const std::unique_ptr<QObject> terminate = ServeTerminationRequests([] { theApp.OnTerminate(); });
  theApp.InitInstance();
  InstallUserSeams(nullptr);
  return 0;
}
