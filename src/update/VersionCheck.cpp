#include "update/VersionCheck.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <system_error>

#include "update/CheckState.h"
#include "update/NetConnection.h"
#include "update/VersionLine.h"

namespace {

using Clock = CheckState::Clock;
using namespace std::chrono_literals;

constexpr auto kPreviousWorkerGrace = 50ms;
constexpr auto kNetworkWait = 2000ms;
constexpr auto kHandlerBlockLimit = kPreviousWorkerGrace + kNetworkWait;
// A stopped worker wakes from any wait at once; this only covers scheduling delays.
constexpr auto kStopWait = 100ms;

std::atomic<int> g_liveWorkers{0};
std::atomic<std::uint64_t> g_socketsMade{0};

// Everything a worker works on: copies taken on the user-interface thread when the check
// started, and its share of the check's state.
struct WorkerJob {
  std::shared_ptr<CheckState> check;
  OwnerWindow owner = nullptr;
  std::string hostname;
  std::string versionFile;
  std::string ownVersion;
  std::uint16_t port = 80;
  UiThreadInvoker* invoker = nullptr;
  // Touched only by box tasks on the user-interface thread, and only while the check is
  // not superseded (tear-down supersedes it before the inputs go away).
  VersionCheckInputs* inputs = nullptr;
};

class WaitCursorScope {
 public:
  explicit WaitCursorScope(WaitCursor& cursor) : m_cursor(cursor) { m_cursor.BeginWaitCursor(); }
  WaitCursorScope(const WaitCursorScope&) = delete;
  WaitCursorScope& operator=(const WaitCursorScope&) = delete;
  ~WaitCursorScope() { m_cursor.EndWaitCursor(); }

 private:
  WaitCursor& m_cursor;
};

// Shows a box on the user-interface thread and waits for the answer, or for a stop. A
// superseded check shows nothing.
void ShowBoxAndWait(const WorkerJob& job, const std::string& text, unsigned style,
                    bool offersDownload) {
  auto task = [check = job.check, inputs = job.inputs, owner = job.owner, text, style,
               offersDownload] {
    if (!check->StillWanted()) return;
    const int answer = CurrentUserSeams().ShowMessageBox(owner, text, VersionTexts::kCaption, style);
    // The profile is read now, so a value entered while the box was up counts.
    if (offersDownload && answer == QM_IDYES && check->StillWanted()) {
      CurrentUserSeams().ShellOpen("http://" + inputs->ReadDownloadUrl());
    }
    check->FinishBox(answer);
  };
  if (job.check->PostUnlessSuperseded(*job.invoker, std::move(task))) {
    job.check->WaitForBoxAnswer();
  }
}

// The worker's error exit: a null text shows nothing.
std::uint32_t AbortVersionCheck(const WorkerJob& job, const char* text, unsigned style,
                                std::uint32_t result) {
  job.check->SetDone();
  if (text != nullptr) ShowBoxAndWait(job, text, style, false);
  job.check->ReleaseVersionCheck();
  return result;
}

std::uint32_t AbortWithError(const WorkerJob& job, const char* pattern, int error) {
  const std::string text = FormatVersionText(pattern, std::to_string(error));
  return AbortVersionCheck(job, text.c_str(), QM_MB_ICONERROR, 0);
}

// Returns 1 when the worker reached the decision, 0 after an error exit.
std::uint32_t VersionCheckThread(const WorkerJob& job) {
  using namespace VersionTexts;
  CheckState& check = *job.check;

  std::uint32_t address = 0;
  if (!LookUpFirstIPv4(job.hostname, address)) {
    return AbortVersionCheck(job, kLookupFailed, QM_MB_ICONERROR, 0);
  }
  // A lookup cannot be interrupted; a check stopped meanwhile ends here, before it makes
  // a socket.
  if (check.Superseded()) return AbortVersionCheck(job, nullptr, QM_MB_ICONERROR, 0);

  // The stop channel is the one socket service this worker needs besides the kernel:
  // without it no wait of the worker could be ended from outside.
  NetConnection& connection = check.Connection();
  if (connection.OpenStopChannel() != 0) return AbortVersionCheck(job, kSocketServices, QM_MB_ICONERROR, 0);

  if (const int error = connection.Open(); error != 0) {
    if (error == NetConnection::kStopped) return AbortVersionCheck(job, nullptr, QM_MB_ICONERROR, 0);
    return AbortWithError(job, kSocketCreation, error);
  }
  g_socketsMade.fetch_add(1, std::memory_order_relaxed);

  if (const int error = connection.Connect(address, job.port); error != 0) {
    // A stopped check shows nothing.
    if (error == NetConnection::kStopped) return AbortVersionCheck(job, nullptr, QM_MB_ICONERROR, 0);
    return AbortWithError(job, kConnection, error);
  }

  // The request needs no buffer of its own: it goes out in one piece.
  ReplyLineReader reader([&connection](char* buffer, std::size_t size) {
    return connection.Receive(buffer, size);
  });

  if (const int error = connection.SetBlocking(); error != 0) {
    return AbortWithError(job, kSocketError, error);
  }

  if (!connection.SendAll("GET " + job.versionFile + "\r\n")) {
    return AbortVersionCheck(job, kRequestFailed, QM_MB_ICONERROR, 0);
  }

  std::string remote;
  const ReplyLineReader::Result read = reader.ReadFirstLine(remote);
  if (read == ReplyLineReader::Result::kFailed)
    return AbortVersionCheck(job, nullptr, QM_MB_ICONERROR, 0);
  if (read == ReplyLineReader::Result::kTooLong || !IsVersionText(remote)) {
    const std::string text = FormatVersionText(kServerReturned, remote);
    return AbortVersionCheck(job, text.c_str(), QM_MB_ICONERROR, 0);
  }

  const std::string& own = job.ownVersion;

  check.SetDone();
  const VersionBox box = DecideVersionBox(own, remote);
  ShowBoxAndWait(job, box.text, box.style, box.offersDownload);
  check.ReleaseVersionCheck();
  return 1;
}

}  // namespace

template <typename Body>
bool VersionCheck::WorkerThread::Start(Body body) {
  try {
    m_thread = std::thread(std::move(body));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void VersionCheck::WorkerThread::Release(bool ended) {
  if (!m_thread.joinable()) return;
  if (ended) {
    m_thread.join();
  } else {
    m_thread.detach();
  }
}

VersionCheck::VersionCheck(VersionCheckInputs& inputs, UiThreadInvoker& invoker, WaitCursor& cursor,
                           std::uint16_t port)
    : m_inputs(inputs), m_invoker(invoker), m_cursor(cursor), m_port(port) {}

VersionCheck::~VersionCheck() { Shutdown(); }

void VersionCheck::OnCheckForUpdates() {
  const auto start = Clock::now();
  WaitCursorScope cursor(m_cursor);
  m_lastCheck = {};

  if (m_checkThread.Active() || m_checkDone) m_lastCheck.previous = StopPreviousWorker();

  auto check = std::make_shared<CheckState>();
  WorkerJob job{check,
                m_inputs.MainWindow(),
                m_inputs.Hostname(),
                m_inputs.VersionFile(),
                m_inputs.OwnProductVersion(),
                m_port,
                &m_invoker,
                &m_inputs};
  g_liveWorkers.fetch_add(1);
  const bool started = m_checkThread.Start([job = std::move(job)]() mutable {
    VersionCheckThread(job);
    const std::shared_ptr<CheckState> ending = std::move(job.check);
    ending->MarkEnded();
    g_liveWorkers.fetch_sub(1);
  });
  if (!started) {
    g_liveWorkers.fetch_sub(1);
    return;
  }
  m_checkDone = check;

  // Time spent stopping an earlier worker beyond its 50 ms comes off this wait, so the
  // handler as a whole never blocks longer than 2050 ms.
  const auto deadline = std::min(Clock::now() + kNetworkWait, start + kHandlerBlockLimit);
  switch (check->WaitForDoneOrEnd(deadline)) {
    case CheckState::WaitEnd::kDone:
      m_lastCheck.wait = WaitEnd::kDone;
      break;
    case CheckState::WaitEnd::kEnded:
      m_lastCheck.wait = WaitEnd::kEnded;
      break;
    case CheckState::WaitEnd::kTimeout:
      m_lastCheck.wait = WaitEnd::kTimeout;
      break;
  }
}

VersionCheck::PreviousWorker VersionCheck::StopPreviousWorker() {
  PreviousWorker previous = PreviousWorker::kEnded;
  if (m_checkDone && !m_checkDone->WaitForEnd(Clock::now() + kPreviousWorkerGrace)) {
    m_checkDone->Supersede();
    previous = m_checkDone->WaitForEnd(Clock::now() + kStopWait) ? PreviousWorker::kStopped
                                                                 : PreviousWorker::kAbandoned;
  }
  ReleaseVersionCheck();
  return previous;
}

void VersionCheck::ReleaseVersionCheck() {
  const bool ended = !m_checkDone || m_checkDone->HasEnded();
  m_checkThread.Release(ended);
  m_checkDone.reset();
}

void VersionCheck::Shutdown() {
  if (m_checkDone && !m_checkDone->HasEnded()) {
    m_checkDone->Supersede();
    m_checkDone->WaitForEnd(Clock::now() + kStopWait);
  }
  ReleaseVersionCheck();
}

bool VersionCheck::WorkerRunning() const { return m_checkDone && !m_checkDone->HasEnded(); }

int VersionCheck::LiveWorkers() { return g_liveWorkers.load(); }

std::uint64_t VersionCheck::SocketsMade() { return g_socketsMade.load(); }
