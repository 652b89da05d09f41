// The program itself, as a shell runs it, with a private settings folder.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace {

constexpr const char* kProgram = QUILLMARK_BIN_DIR "/quillmark-send";

struct ProgramRun {
  int status;
  std::string output;
};

class SendProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/quillmark-send-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    m_home = folder;
    std::filesystem::create_directories(m_home / "Vellicor");
  }
  void TearDown() override { std::filesystem::remove_all(m_home); }

  void WriteProfile(const std::string& text) {
    std::ofstream(m_home / "Vellicor" / "Quillmark.conf", std::ios::binary) << text;
  }

  // Runs the program through sh; redirections go into arguments.
  ProgramRun Run(const std::string& arguments) {
    const std::string command =
        "XDG_CONFIG_HOME='" + m_home.string() + "' '" + kProgram + "' 2>&1 " + arguments;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-1, ""};
    std::string output;
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
  }

  std::filesystem::path m_home;
};

TEST_F(SendProgramTest, ExitStatusAndTextsOfTheRealProgram) {
  WriteProfile("[Settings]\nTargetDeviceID=5\n");
  const std::string full = std::strerror(ENOSPC);
  const std::string directory = std::strerror(EISDIR);
  const std::string closed = std::strerror(EBADF);
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"-p prog </dev/null", 0, "F0 1C 60 05 00 "},  // the stored device ID
      {"-p - < /", 1, "quillmark-send: cannot read standard input: " + directory + "\n"},
      {"-p - <&-", 1, "quillmark-send: cannot read standard input: " + closed + "\n"},
      {"-l prog", 2, "quillmark-send: --list takes no keys"},
      {"--print ent >/dev/full", 1, "quillmark-send: cannot write to standard output: " + full + "\n"},
      {"-V >/dev/full", 1, "quillmark-send: cannot write to standard output: " + full + "\n"},
  };
  for (const auto& [arguments, status, output] : cases) {
    const ProgramRun run = Run(arguments);
    EXPECT_EQ(run.status, status) << arguments << ": " << run.output;
    EXPECT_EQ(run.output.rfind(output, 0), 0u) << arguments << ": " << run.output;
  }
}

TEST_F(SendProgramTest, AProfileThatStartsWithAByteOrderMarkGivesItsDeviceId) {
  WriteProfile("\xEF\xBB\xBF[Settings]\nTargetDeviceID=7\n");
  const ProgramRun run = Run("-p prog </dev/null");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.rfind("F0 1C 60 07 00 ", 0), 0u) << run.output;
}

// Reads from fd until a whole line is there, at most bound milliseconds; "" on timeout.
std::string ReadLine(int fd, int bound) {
  std::string line;
  while (line.empty() || line.back() != '\n') {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, bound) != 1) return "";
    char c;
    if (read(fd, &c, 1) != 1) return "";
    line += c;
  }
  return line;
}

TEST_F(SendProgramTest, EachLineOfStandardInputIsDoneBeforeTheNextIsWritten) {
  int input[2];
  int output[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(pipe(output), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  for (int fd : {input[0], input[1], output[0], output[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  char* argv[] = {const_cast<char*>(kProgram), const_cast<char*>("-pi3"), const_cast<char*>("-"), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, kProgram, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);

  // A reader that waits for the end of its input never answers the first line while the
  // second is held back; the bound only keeps such a program from hanging the test.
  const std::string reset = "F0 1C 60 03 00 7C 46 45 42 36 34 43 F7\n";
  ASSERT_EQ(write(input[1], "reset\n", 6), 6);
  EXPECT_EQ(ReadLine(output[0], 30000), reset);
  ASSERT_EQ(write(input[1], "reset\n", 6), 6);
  EXPECT_EQ(ReadLine(output[0], 30000), reset);
  close(input[1]);
  EXPECT_EQ(ReadLine(output[0], 30000), "") << "nothing after the end of the input";
  close(output[0]);
  int status = 0;
  for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
    if (waited > 30000) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(10000);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
