#include "settings/ProfileStore.h"

// The profile on Linux and other POSIX systems: an INI file under the user's configuration
// folder (its text in ProfileStoreIni.h).
//
// Reads take no lock: the file is only ever replaced whole, through a temporary file in
// the same folder and a rename, so a reader sees the old file or the new one and a failed
// write leaves the old one in place. A write is one read-modify-write of the file as it is
// on the disk at that moment, under an advisory lock on "<profile>.lck" that every process
// of ours takes, so two programs writing at once both keep what they wrote and neither
// touches a value the other one changed. A profile that is a symbolic link stays one: the
// file it leads to is written (created when it is missing), in its own folder.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "settings/ProfileStoreIni.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long a write waits for other writers before it gives up and fails.
constexpr std::chrono::seconds kLockWait{5};
// Links followed from the profile's name before it counts as a loop, as the kernel does.
constexpr int kMaxLinks = 40;

// Writers of this process queue here first, then meet the other processes at the file lock.
std::mutex g_writeLock;

// Why the last write of this thread failed.
struct Failure {
  std::string file;
  std::string reason;
};
thread_local std::optional<Failure> t_lastFailure;

bool Fail(const std::string& file, const std::string& reason) {
  t_lastFailure = Failure{file, reason};
  return false;
}
bool FailWithErrno(const std::string& file, int error) { return Fail(file, std::strerror(error)); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Reads the whole profile into text. 0 on success, a missing file included (an empty
// profile); else the errno value, or -1 for something that is not a regular file (a FIFO
// above all, which would block the reader).
constexpr int kNotRegularFile = -1;
int ReadProfileFile(const std::string& path, std::string& text) {
  text.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  struct stat info {};
  int result = 0;
  if (fstat(fd, &info) != 0) {
    result = errno;
  } else if (!S_ISREG(info.st_mode)) {
    result = kNotRegularFile;
  }
  char buffer[8192];
  while (result == 0) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) result = errno;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return result;
}

std::string ReadFailureText(int error) {
  return error == kNotRegularFile ? "it is not a regular file" : std::strerror(error);
}

// The file that the profile's name leads to through any symbolic links; it may not exist
// yet. 0 or an errno value.
int ResolveLinks(const std::string& location, std::string& target) {
  std::string path = location;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
      if (errno != ENOENT) return errno;
      target = path;
      return 0;
    }
    if (!S_ISLNK(info.st_mode)) {
      target = path;
      return 0;
    }
    std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
    const ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n < 0) return errno;
    // A link that grew since lstat: look again.
    if (static_cast<std::size_t>(n) >= link.size()) continue;
    link.resize(static_cast<std::size_t>(n));
    if (link.empty()) return ENOENT;
    path = link.front() == '/' ? link : FolderOf(path) + "/" + link;
  }
  return ELOOP;
}

int MakeFolders(const std::string& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
  if (errno != ENOENT) return errno;
  const std::string parent = FolderOf(folder);
  if (parent != folder) {
    if (const int error = MakeFolders(parent)) return error;
  }
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

// The advisory lock of one write, on a file beside the profile that stays there (taking it
// away could let two writers lock two different files). Closing the file releases it.
class WriteLock {
 public:
  WriteLock() = default;
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;
  ~WriteLock() {
    if (m_fd >= 0) close(m_fd);
  }

  // 0, an errno value, or ETIMEDOUT when another writer held it until the deadline.
  int Acquire(const std::string& path, Clock::time_point deadline) {
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) return errno;
    // Another writer holds it for one read and write of a small file. Look again often: a
    // writer with many values to store frees it only for a moment between two of them.
    for (auto pause = std::chrono::microseconds(50);; pause = std::min(pause * 2, std::chrono::microseconds(200))) {
      if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) return 0;
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) return errno;
      const Clock::time_point now = Clock::now();
      if (now >= deadline) return ETIMEDOUT;
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    }
  }

 private:
  int m_fd = -1;
};

// Replaces the file at path with text, through a temporary file beside it: true only when
// the new text is on the disk. Nothing of ours is left behind when it fails.
bool ReplaceFile(const std::string& path, const std::string& text) {
  mode_t mode = 0600;  // the profile may hold the remote page's access token
  struct stat existing {};
  if (stat(path.c_str(), &existing) == 0) mode = existing.st_mode & 07777;

  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return FailWithErrno(path, errno);
  int error = fchmod(fd, mode) == 0 ? 0 : errno;
  for (std::size_t done = 0; error == 0 && done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n == 0) error = EIO;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temp.c_str());
    return FailWithErrno(path, error);
  }
  // The rename itself lives in the folder's entry.
  const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}

// One write: change is given the profile as it is on the disk now, under the lock, and
// returns whether it changed anything; a change is written at once.
bool ChangeProfile(const std::string& location, const std::function<bool(IniText&)>& change) {
  t_lastFailure.reset();
  const Clock::time_point deadline = Clock::now() + kLockWait;
  const auto lockedText = [] {
    return "another program kept it locked for more than " + std::to_string(kLockWait.count()) + " seconds";
  };
  // Polled rather than a timed mutex: ThreadSanitizer does not see the clock-based lock
  // libstdc++ uses for one, and would report every unlock.
  std::unique_lock<std::mutex> ownTurn(g_writeLock, std::defer_lock);
  while (!ownTurn.try_lock()) {
    if (Clock::now() >= deadline) return Fail(location, lockedText());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  std::string target;
  if (const int error = ResolveLinks(location, target)) return FailWithErrno(location, error);
  if (const int error = MakeFolders(FolderOf(target))) return FailWithErrno(target, error);
  WriteLock lock;
  if (const int error = lock.Acquire(target + ".lck", deadline)) {
    return error == ETIMEDOUT ? Fail(target, lockedText()) : FailWithErrno(target + ".lck", error);
  }
  std::string text;
  // A file that exists but cannot be read is never replaced by one holding this value alone.
  if (const int error = ReadProfileFile(target, text)) return Fail(target, ReadFailureText(error));
  IniText ini(text);
  if (!change(ini)) return true;
  return ReplaceFile(target, ini.Text());
}

bool StoreText(const std::string& location, const std::string& section, const std::string& entry,
               const std::string& text) {
  return ChangeProfile(location, [&](IniText& ini) {
    ini.Set(section, entry, text);
    return true;
  });
}

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config";
}

// The raw text of a stored value, or nothing when the value or the profile cannot be read.
std::optional<std::string> ReadRaw(const std::string& location, const std::string& section,
                                   const std::string& entry) {
  std::string text;
  if (ReadProfileFile(location, text) != 0) return std::nullopt;
  return IniText(text).Find(section, entry);
}

}  // namespace

std::int32_t ProfileStore::ReadProfileInt(const std::string& section, const std::string& entry,
                                         std::int32_t nDefault) const {
  const std::optional<std::string> raw = ReadRaw(Location(), section, entry);
  const std::optional<std::string> text = raw ? DecodeIniValue(*raw) : std::nullopt;
  if (!text) return nDefault;
  return IniIntegerValue(*text).value_or(nDefault);
}

std::string ProfileStore::ReadProfileString(const std::string& section, const std::string& entry,
                                           const std::string& strDefault) const {
  const std::optional<std::string> raw = ReadRaw(Location(), section, entry);
  if (!raw) return strDefault;
  return DecodeIniValue(*raw).value_or(strDefault);
}

bool ProfileStore::StoreProfileInt(const std::string& section, const std::string& entry,
                                   std::int32_t nValue) {
  return StoreText(Location(), section, entry, std::to_string(nValue));
}

bool ProfileStore::StoreProfileString(const std::string& section, const std::string& entry,
                                      const std::string& strValue) {
  return StoreText(Location(), section, entry, strValue);
}

bool ProfileStore::DeleteSection(const std::string& section) {
  return ReplaceSection(section, {});
}

bool ProfileStore::ReplaceSection(const std::string& section,
                                  const std::vector<std::pair<std::string, std::string>>& entries) {
  const std::string location = Location();
  if (entries.empty()) {
    // Nothing there is nothing to delete, even where nothing could be written.
    t_lastFailure.reset();
    std::string text;
    const int error = ReadProfileFile(location, text);
    if ((error == 0 || error == ENOTDIR) && !IniText(text).RemoveSection(section)) return true;
  }
  return ChangeProfile(location, [&](IniText& ini) {
    bool changed = ini.RemoveSection(section);
    for (const auto& [entry, text] : entries) {
      ini.Set(section, entry, text);
      changed = true;
    }
    return changed;
  });
}

std::string ProfileStore::Location() const {
  return ConfigHome() + "/" + m_strCompany + "/" + m_strApplication + ".conf";
}

std::string ProfileStore::WriteFailureText() const {
  const std::string file = t_lastFailure ? t_lastFailure->file : Location();
  const std::string reason = t_lastFailure ? ": " + t_lastFailure->reason : std::string();
  return "Could not write to " + file + reason + ".";
}
