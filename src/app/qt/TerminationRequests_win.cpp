#include "app/TerminationRequests.h"

// Termination requests on Windows: the console's control events (Ctrl+C, Ctrl+Break, the
// console window closing, logoff and shutdown) and the session's end announced to the
// program's windows. The console handler runs on a thread the system starts for it; it
// signals an event that the user-interface thread watches, and for the events after which
// the system ends the process it waits, bounded, for the run's tear-down.
#include <windows.h>

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QObject>
#include <QWinEventNotifier>

#include <atomic>
#include <utility>

namespace {

// The system ends the process about 5 seconds after a close, logoff or shutdown event;
// the wait stays below that.
constexpr DWORD kTearDownBoundMs = 4500;

// Manual-reset events, made before the first request can come and kept for the run.
HANDLE g_requested = nullptr;  // a request is waiting for the user-interface thread
HANDLE g_finished = nullptr;   // the run's tear-down has finished
std::atomic<bool> g_serving{false};

BOOL WINAPI OnConsoleControl(DWORD event);

// Owns the two events and the handler's registration until the process ends.
struct Registration {
  Registration() {
    g_requested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    registered = g_requested && g_finished && SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  ~Registration() {
    if (registered) SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    if (g_requested) CloseHandle(std::exchange(g_requested, nullptr));
    if (g_finished) CloseHandle(std::exchange(g_finished, nullptr));
  }
  bool registered = false;
};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (g_requested) SetEvent(g_requested);
  switch (event) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Returning lets the system end the process at once: give the tear-down its time.
      if (g_finished && g_serving.load()) WaitForSingleObject(g_finished, kTearDownBoundMs);
      return TRUE;
    default:
      return TRUE;
  }
}

// The session's end reaches a windowed program only as messages to its top-level windows.
class SessionEndFilter final : public QAbstractNativeEventFilter {
 public:
  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override {
    if (eventType != "windows_generic_MSG") return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_QUERYENDSESSION) {
      // Agree, and start the tear-down now: the session may end right after the answer.
      SetEvent(g_requested);
      *result = TRUE;
      return true;
    }
    return false;
  }
};

// Serves the requests on the user-interface thread; its end marks the run's tear-down as
// finished, which releases a console handler that waits for it.
class TerminationServer final : public QObject {
 public:
  explicit TerminationServer(std::function<void()> onTerminate)
      : m_notifier(g_requested), m_onTerminate(std::move(onTerminate)) {
    QObject::connect(&m_notifier, &QWinEventNotifier::activated, this, [this] {
      ResetEvent(g_requested);
      m_onTerminate();
    });
    m_notifier.setEnabled(g_requested != nullptr);
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
      dispatcher->installNativeEventFilter(&m_sessionEnd);
    }
    g_serving.store(true);
  }
  ~TerminationServer() override {
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
      dispatcher->removeNativeEventFilter(&m_sessionEnd);
    }
    m_notifier.setEnabled(false);
    g_serving.store(false);
    if (g_finished) SetEvent(g_finished);
  }

 private:
  QWinEventNotifier m_notifier;
  SessionEndFilter m_sessionEnd;
  std::function<void()> m_onTerminate;
};

}  // namespace

void CatchTerminationRequests() { static const Registration s_registration; }

std::unique_ptr<QObject> ServeTerminationRequests(std::function<void()> onTerminate) {
  return std::make_unique<TerminationServer>(std::move(onTerminate));
}
