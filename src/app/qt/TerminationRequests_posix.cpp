#include "app/TerminationRequests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <utility>

namespace {

// SIGTERM, SIGINT and SIGHUP go through this pipe to the event loop: a signal handler may
// do nothing else.
int g_terminatePipe[2] = {-1, -1};

void OnTerminateSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_terminatePipe[1], &byte, 1);
}

// Watches the pipe from Qt's event loop.
class SignalService final : public TerminationService {
 public:
  explicit SignalService(std::function<void()> onTerminate)
      : m_notifier(g_terminatePipe[0], QSocketNotifier::Read) {
    m_notifier.setEnabled(g_terminatePipe[0] >= 0);
    QObject::connect(&m_notifier, &QSocketNotifier::activated, [onTerminate = std::move(onTerminate)] {
      char drained[16];
      while (read(g_terminatePipe[0], drained, sizeof drained) > 0) {
      }
      onTerminate();
    });
  }

 private:
  QSocketNotifier m_notifier;
};

}  // namespace

void CatchTerminationRequests() {
  if (pipe2(g_terminatePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnTerminateSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

std::unique_ptr<TerminationService> ServeTerminationRequests(std::function<void()> onTerminate) {
  return std::make_unique<SignalService>(std::move(onTerminate));
}
