// Moves the per-user profile into a folder of the test's own for as long as it lives:
// the store finds its file under XDG_CONFIG_HOME, read afresh on every call.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

class ScopedProfileHome {
 public:
  explicit ScopedProfileHome(const std::string& folder) {
    if (const char* previous = std::getenv("XDG_CONFIG_HOME")) m_previous = previous;
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  }
  ~ScopedProfileHome() {
    if (m_previous) {
      setenv("XDG_CONFIG_HOME", m_previous->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }
  ScopedProfileHome(const ScopedProfileHome&) = delete;
  ScopedProfileHome& operator=(const ScopedProfileHome&) = delete;

 private:
  std::optional<std::string> m_previous;
};
