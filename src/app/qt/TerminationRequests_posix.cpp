#include "app/TerminationRequests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

// SIGTERM, SIGINT and SIGHUP go through this pipe to the event loop: a signal handler may
// do nothing else.
int g_terminatePipe[2] = {-1, -1};

void OnTerminateSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_terminatePipe[1], &byte, 1);
}

}  // namespace

void CatchTerminationRequests() {
  if (pipe2(g_terminatePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnTerminateSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

std::unique_ptr<QObject> ServeTerminationRequests(std::function<void()> onTerminate) {
  auto notifier = std::make_unique<QSocketNotifier>(g_terminatePipe[0], QSocketNotifier::Read);
  notifier->setEnabled(g_terminatePipe[0] >= 0);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, [onTerminate] {
    char drained[16];
    while (read(g_terminatePipe[0], drained, sizeof drained) > 0) {
    }
    onTerminate();
  });
  return notifier;
}
