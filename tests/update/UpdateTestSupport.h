// Stand-ins for the application's side of the version check: a user-interface queue the
// test pumps by hand, a wait cursor that counts, and inputs held in plain fields.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "update/UpdateSeams.h"

// Tasks posted by the worker run when the test pumps, on the test's thread, which plays
// the user-interface thread.
class ManualUiThread final : public UiThreadInvoker {
 public:
  void PostToUiThread(std::function<void()> task) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tasks.push_back(std::move(task));
  }
  // Runs what is queued now; returns how many ran.
  int Pump() {
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      tasks.swap(m_tasks);
    }
    for (auto& task : tasks) task();
    return static_cast<int>(tasks.size());
  }

 private:
  std::mutex m_mutex;
  std::deque<std::function<void()>> m_tasks;
};

class CountingCursor final : public WaitCursor {
 public:
  void BeginWaitCursor() override { log.push_back("begin"); }
  void EndWaitCursor() override { log.push_back("end"); }
  std::vector<std::string> log;
};

class FieldInputs final : public VersionCheckInputs {
 public:
  std::string Hostname() override { return hostname; }
  std::string VersionFile() override { return versionFile; }
  std::string OwnProductVersion() override { return ownVersion; }
  std::string ReadDownloadUrl() override {
    downloadUrlReadOn.push_back(std::this_thread::get_id());
    return storedDownloadUrl.value_or(defaultDownloadUrl);
  }
  OwnerWindow MainWindow() override { return mainWindow; }

  std::string hostname = "127.0.0.1";
  std::string versionFile = "/~vorlik_/h3/ver_qmk.txt";
  std::string ownVersion = "1.0.0.0";
  std::optional<std::string> storedDownloadUrl = "downloads.example.net/qm/get.html";
  std::string defaultDownloadUrl = "www.vellicor.example/quillmark/download.html";
  OwnerWindow mainWindow = reinterpret_cast<OwnerWindow>(0x5150);
  std::vector<std::thread::id> downloadUrlReadOn;
};

// Plays the user-interface thread's event loop until `done` holds or `limit` passes.
template <typename Done>
bool PumpUntil(ManualUiThread& ui, Done done,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    ui.Pump();
    if (done()) {
      ui.Pump();
      return true;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
