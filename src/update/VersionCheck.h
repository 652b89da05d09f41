// Help, Check for updates: asks the version server for the current release number on a
// worker thread and reports the outcome in a box owned by the main window.
//
// The application keeps one VersionCheck for the whole run, calls OnCheckForUpdates on
// the user-interface thread for command 32774, and calls Shutdown (or destroys it) at
// tear-down, before the settings holder and the seams go away.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "update/UpdateSeams.h"

class CheckState;

class VersionCheck {
 public:
  // How the last OnCheckForUpdates dealt with a worker of an earlier check.
  enum class PreviousWorker {
    kNone,       // no earlier check was left
    kEnded,      // it had ended, or ended within the 50 ms it is given
    kStopped,    // it was stopped and ended before the new check began
    kAbandoned,  // it was stopped but had not ended in time; it ends on its own, silently
  };
  // How the handler's wait for the new worker ended.
  enum class WaitEnd { kNotStarted, kDone, kEnded, kTimeout };
  struct CheckReport {
    PreviousWorker previous = PreviousWorker::kNone;
    WaitEnd wait = WaitEnd::kNotStarted;
  };

  // The seams are not owned and must outlive this object. `port` is the version server's
  // TCP port.
  VersionCheck(VersionCheckInputs& inputs, UiThreadInvoker& invoker, WaitCursor& cursor,
               std::uint16_t port = 80);
  VersionCheck(const VersionCheck&) = delete;
  VersionCheck& operator=(const VersionCheck&) = delete;
  ~VersionCheck();

  // The command handler. Blocks the calling (user-interface) thread for at most 2050 ms
  // in all, without pumping messages: 50 ms for a worker of an earlier check, the rest
  // for the new worker's network part. Boxes come later, through the invoker.
  void OnCheckForUpdates();

  // Tear-down: stops a running worker so that it shows nothing more and posts nothing,
  // and waits at most 100 ms for it to end. Afterwards the seams may go away.
  void Shutdown();

  const CheckReport& LastCheck() const { return m_lastCheck; }
  // True while the worker of the latest check has not ended.
  bool WorkerRunning() const;
  // Workers of every VersionCheck of the process that have not ended yet.
  static int LiveWorkers();
  // Sockets that workers have made since the process started.
  static std::uint64_t SocketsMade();

 private:
  // The thread of the latest check: joined once the worker has ended, otherwise let go.
  class WorkerThread {
   public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread() { Release(false); }
    template <typename Body>
    bool Start(Body body);
    bool Active() const { return m_thread.joinable(); }
    // Joins when the worker has ended, else detaches it.
    void Release(bool ended);

   private:
    std::thread m_thread;
  };

  PreviousWorker StopPreviousWorker();
  void ReleaseVersionCheck();

  VersionCheckInputs& m_inputs;
  UiThreadInvoker& m_invoker;
  WaitCursor& m_cursor;
  std::uint16_t m_port;
  WorkerThread m_checkThread;
  // The done event and everything else the latest worker shares with this thread.
  std::shared_ptr<CheckState> m_checkDone;
  CheckReport m_lastCheck;
};
