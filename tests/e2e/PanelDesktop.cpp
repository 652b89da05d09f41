#include "PanelDesktop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kStartBound = 30s;

// Starts argv[0] from the PATH with the given environment and file actions; -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const posix_spawn_file_actions_t& actions) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0 ? pid : -1;
}

}  // namespace

std::vector<std::string> Environment(const std::vector<std::string>& overrides) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const std::string& o : overrides) replaced |= o.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced) result.push_back(text);
  }
  result.insert(result.end(), overrides.begin(), overrides.end());
  return result;
}

bool Child::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  const std::string& cwd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  posix_spawn_file_actions_adddup2(&actions, devNull, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, devNull, STDERR_FILENO);
  m_pid = Spawn(argv, env, actions);
  posix_spawn_file_actions_destroy(&actions);
  close(devNull);
  return m_pid > 0;
}

bool Child::Wait(std::chrono::milliseconds bound, int& status) {
  const auto deadline = Clock::now() + bound;
  while (m_pid > 0) {
    const pid_t done = waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) {
      m_pid = -1;
      return true;
    }
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

void Child::Stop() {
  if (m_pid <= 0) return;
  int status = 0;
  kill(m_pid, SIGTERM);
  if (Wait(3s, status)) return;
  kill(m_pid, SIGKILL);
  Wait(3s, status);
}

// Runs a command to its end (bounded) and returns its standard output; empty on failure.
std::string Capture(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  const pid_t pid = Spawn(argv, env, actions);
  const int rc = pid > 0 ? 0 : -1;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string out;
  const auto deadline = Clock::now() + 10s;
  while (rc == 0 && Clock::now() < deadline) {
    pollfd fd{pipeFds[0], POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeFds[0]);
  if (rc == 0) {
    if (Clock::now() >= deadline) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  }
  return out;
}

bool Desktop::Start(std::string& error) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return Fail(error, "no pipe");
  const bool started = m_xvfb.Start({"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                                     "1024x768x24", "-dpi", "96", "-nolisten", "tcp"},
                                    Environment({}));  // inherits the pipe's write end
  close(pipeFds[1]);
  std::string number;
  const auto deadline = Clock::now() + kStartBound;
  while (started && Clock::now() < deadline && number.find('\n') == std::string::npos) {
    pollfd fd{pipeFds[0], POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0) continue;
    char c = 0;
    if (read(pipeFds[0], &c, 1) != 1) break;
    number += c;
  }
  close(pipeFds[0]);
  if (number.find('\n') == std::string::npos) return Fail(error, "Xvfb did not start");
  m_display = ":" + number.substr(0, number.find('\n'));
  if (!m_openbox.Start({"openbox"}, Env())) return Fail(error, "openbox did not start");
  // The window manager is up once it has claimed the root window.
  while (Clock::now() < deadline) {
    if (Capture({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, Env()).find("window id") !=
        std::string::npos) {
      // Xvfb starts with Num Lock off; the keypad's digits need it on.
      Capture({"xdotool", "key", "Num_Lock"}, Env());
      return true;
    }
    std::this_thread::sleep_for(50ms);
  }
  return Fail(error, "openbox did not take the display");
}
std::vector<std::string> Desktop::Env(std::vector<std::string> more) const {
  more.push_back("DISPLAY=" + m_display);
  return Environment(more);
}

bool Desktop::Fail(std::string& error, const char* why) {
  error = why;
  return false;
}

// A key to type with xdotool and the panel key it must send.