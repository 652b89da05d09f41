// What the version check needs from the application, as three small seams. The
// application implements them with its toolkit and its settings; tests implement them by
// hand. None of them is owned by the check; all must outlive it.
#pragma once

#include <functional>
#include <string>

#include "desktop/UserSeams.h"

// Runs work on the user-interface thread on behalf of the worker.
class UiThreadInvoker {
 public:
  UiThreadInvoker() = default;
  UiThreadInvoker(const UiThreadInvoker&) = delete;
  UiThreadInvoker& operator=(const UiThreadInvoker&) = delete;
  virtual ~UiThreadInvoker() = default;
  // Queues `task` to run later on the user-interface thread, from its event loop, and
  // returns at once. Called from the worker, possibly with the worker's own lock held: it
  // must not block and must not call back into the check. Tasks left unrun when the
  // program ends may be dropped; each task owns what it needs.
  virtual void PostToUiThread(std::function<void()> task) = 0;
};

// The wait cursor over the whole Check for updates handler.
class WaitCursor {
 public:
  WaitCursor() = default;
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  virtual ~WaitCursor() = default;
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;
};

// The settings and facts a check reads. Every call comes on the user-interface thread:
// the first four when a check starts (the worker keeps copies), ReadDownloadUrl when the
// user has accepted the offer to download.
class VersionCheckInputs {
 public:
  VersionCheckInputs() = default;
  VersionCheckInputs(const VersionCheckInputs&) = delete;
  VersionCheckInputs& operator=(const VersionCheckInputs&) = delete;
  virtual ~VersionCheckInputs() = default;
  // "Hostname" of the settings holder.
  virtual std::string Hostname() = 0;
  // "VersionFile" of the settings holder, sent exactly as stored.
  virtual std::string VersionFile() = 0;
  // The product version of the version record, "1.0.0.0"; empty without a record.
  virtual std::string OwnProductVersion() = 0;
  // "DownloadURL" of section "Settings" as stored in the profile at this moment, or the
  // build's default download location when the profile has no such value.
  virtual std::string ReadDownloadUrl() = 0;
  // The main window, owner of every box of the check.
  virtual OwnerWindow MainWindow() = 0;
};
