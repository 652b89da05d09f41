// The profile file as other processes and programs meet it: writers running at once,
// profiles that are symbolic links, and writes that fail.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "ProfileFixture.h"

namespace {

using ProfileSharingTest = ProfileFixture;

// Waits at most `limit` for a child, then kills it.
bool Reap(pid_t pid, std::chrono::seconds limit, int& status) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TEST_F(ProfileSharingTest, TwoProcessesStoringAtOnceKeepEveryValue) {
  constexpr int kEach = 200;
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> writers;
  for (const char* prefix : {"A", "B"}) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(start[1]);
      char go = 0;
      bool ok = read(start[0], &go, 1) == 1;
      ProfileStore own("Vellicor", "Quillmark");
      for (int i = 0; ok && i < kEach; ++i) ok = own.StoreProfileInt("Settings", prefix + std::to_string(i), i);
      _exit(ok ? 0 : 1);
    }
    if (pid > 0) writers.push_back(pid);
  }
  close(start[0]);
  EXPECT_EQ(write(start[1], "go", 2), 2);
  close(start[1]);
  for (const pid_t pid : writers) {
    int status = 0;
    ASSERT_TRUE(Reap(pid, std::chrono::seconds(120), status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "every write reported success";
  }
  ASSERT_EQ(writers.size(), 2u);
  EXPECT_EQ(Entries("Settings").size(), 2 * kEach);
  for (int i = 0; i < kEach; ++i) {
    EXPECT_EQ(Stored("Settings", "A" + QString::number(i)).toString(), QString::number(i));
    EXPECT_EQ(Stored("Settings", "B" + QString::number(i)).toString(), QString::number(i));
  }
}

TEST_F(ProfileSharingTest, ALinkedProfileStaysALinkAndTheFileItLeadsToIsWritten) {
  const std::string elsewhere = m_root.path().toStdString() + "/elsewhere";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(elsewhere)));
  ASSERT_TRUE(QDir().mkpath(m_root.path() + "/Vellicor"));
  struct Case {
    std::string link;    // as the link holds it
    std::string target;  // where it leads
    bool exists;
  };
  const Case cases[] = {{"../elsewhere/new.conf", elsewhere + "/new.conf", false},
                        {elsewhere + "/old.conf", elsewhere + "/old.conf", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    QFile::remove(FilePath());
    if (c.exists) WriteText(QString::fromStdString(c.target), "[Other]\nx=1\n");
    ASSERT_EQ(symlink(c.link.c_str(), FilePath().toLocal8Bit().constData()), 0);
    ASSERT_TRUE(store.StoreProfileString("Settings", "Background", "b.bmp")) << store.WriteFailureText();
    struct stat info {};
    ASSERT_EQ(lstat(FilePath().toLocal8Bit().constData(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    const QSettings target(QString::fromStdString(c.target), QSettings::IniFormat);
    EXPECT_EQ(target.value("Settings/Background").toString(), "b.bmp");
    if (c.exists) {
      EXPECT_EQ(target.value("Other/x").toString(), "1");
    }
    EXPECT_EQ(store.ReadProfileString("Settings", "Background", "?"), "b.bmp");
  }
}

bool SetImmutable(const QString& path, bool on) {
  const int fd = open(path.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  close(fd);
  return ok;
}

TEST_F(ProfileSharingTest, AFailedWriteNamesTheFileAndTheReasonAndLeavesEverythingAsItWas) {
  const std::string before = "[Settings]\nBackground=old.bmp\n";
  const std::string profile = FilePath().toStdString();
  rlimit fileSize{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &fileSize), 0);
  struct Case {
    const char* name;
    std::function<bool()> setUp;  // false: this system cannot show the case
    std::function<void()> tearDown;
    std::string reason;
  };
  const Case cases[] = {
      {"the folder is a file", [&] { MakeProfileUnwritable(); return true; }, [] {}, std::strerror(ENOTDIR)},
      {"the profile is a FIFO",
       [&] { return QDir().mkpath(m_root.path() + "/Vellicor") && mkfifo(profile.c_str(), 0600) == 0; }, [] {},
       "it is not a regular file"},
      {"the new file does not fit",
       [&] {
         WriteFile(before);
         signal(SIGXFSZ, SIG_IGN);
         const rlimit small{64, fileSize.rlim_max};
         return setrlimit(RLIMIT_FSIZE, &small) == 0;
       },
       [&] {
         setrlimit(RLIMIT_FSIZE, &fileSize);
         signal(SIGXFSZ, SIG_DFL);
       },
       std::strerror(EFBIG)},
      {"the old file cannot be replaced",
       [&] {
         WriteFile(before);
         return SetImmutable(FilePath(), true);
       },
       [&] { SetImmutable(FilePath(), false); }, std::strerror(EPERM)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(m_root.path() + "/Vellicor");
    QDir(m_root.path() + "/Vellicor").removeRecursively();
    if (!c.setUp()) {
      c.tearDown();
      std::printf("[  SKIPPED ] %s: not possible here\n", c.name);
      continue;
    }
    const bool written = store.StoreProfileString("Settings", "Background", std::string(100, 'x'));
    c.tearDown();
    EXPECT_FALSE(written);
    EXPECT_EQ(store.WriteFailureText(), "Could not write to " + profile + ": " + c.reason + ".");
    const QFileInfo info(FilePath());
    if (info.isFile()) {
      EXPECT_EQ(ReadFile(), before);
    } else {
      EXPECT_FALSE(info.exists() && std::string(c.name) != "the profile is a FIFO") << "only the FIFO is no file";
    }
    const QStringList left =
        QDir(m_root.path() + "/Vellicor").entryList(QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_TRUE(QSet<QString>(left.begin(), left.end()).subtract({"Quillmark.conf", "Quillmark.conf.lck"}).isEmpty())
        << left.join(' ').toStdString();
  }
}

TEST_F(ProfileSharingTest, AWriteThatCannotHaveTheLockInTimeFailsAndSaysSo) {
  ASSERT_TRUE(store.StoreProfileInt("Settings", "MIDI Channel", 1));
  const int holder = open((FilePath() + ".lck").toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  EXPECT_FALSE(store.StoreProfileInt("Settings", "MIDI Channel", 2));
  close(holder);
  EXPECT_EQ(store.WriteFailureText().rfind("Could not write to " + FilePath().toStdString() + ": ", 0), 0u)
      << store.WriteFailureText();
  EXPECT_EQ(store.ReadProfileInt("Settings", "MIDI Channel", 0), 1);
  EXPECT_TRUE(store.StoreProfileInt("Settings", "MIDI Channel", 3));
  EXPECT_EQ(Stored("Settings", "MIDI Channel").toString(), "3");
}

}  // namespace
