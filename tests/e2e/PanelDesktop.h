// What the panel's end-to-end tests and benchmarks run the real program on: an X server
// of their own with a window manager, child processes that always end, and commands run
// to their end with their output. Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// This process's environment with the given NAME=value entries in place of its own.
std::vector<std::string> Environment(const std::vector<std::string>& overrides);

// A child process that is always ended: SIGTERM, then SIGKILL, each wait bounded. Its
// output goes nowhere.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Stop(); }

  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& cwd = {});
  // True when the process ended within the bound; its status in status.
  bool Wait(std::chrono::milliseconds bound, int& status);
  void Stop();
  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
};

// Runs a command to its end (bounded) and returns its standard output; empty on failure.
std::string Capture(const std::vector<std::string>& argv, const std::vector<std::string>& env);

// An X server of our own (the first free display) with a window manager, so that windows
// get the keyboard focus; Num Lock on.
class Desktop {
 public:
  bool Start(std::string& error);
  std::vector<std::string> Env(std::vector<std::string> more = {}) const;
  const std::string& Display() const { return m_display; }

 private:
  static bool Fail(std::string& error, const char* why);
  Child m_xvfb;
  Child m_openbox;
  std::string m_display;
};
