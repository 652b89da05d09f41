#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include "app/QtUserSeams.h"
#include "app/RemoteApp.h"

namespace {

// A termination request from the desktop (logout, kill) goes through this pipe to the
// event loop, so the run ends with the usual tear-down: the port closed, the settings saved.
int g_terminatePipe[2] = {-1, -1};

void OnTerminateSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_terminatePipe[1], &byte, 1);
}

void CatchTerminationSignals() {
  if (pipe2(g_terminatePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnTerminateSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  CatchTerminationSignals();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmark"));
  QtUserSeams seams;
  InstallUserSeams(&seams);
  QSocketNotifier terminate(g_terminatePipe[0], QSocketNotifier::Read);
  terminate.setEnabled(g_terminatePipe[0] >= 0);
  QObject::connect(&terminate, &QSocketNotifier::activated, [] {
    char drained[16];
    while (read(g_terminatePipe[0], drained, sizeof drained) > 0) {
    }
    theApp.OnTerminate();
  });
  theApp.InitInstance();
  InstallUserSeams(nullptr);
  return 0;
}
