#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackServer.h"
#include "RecordingSeams.h"
#include "UpdateTestSupport.h"
#include "update/VersionCheck.h"
#include "update/VersionLine.h"

namespace {

using namespace std::chrono_literals;
using Action = LoopbackServer::Action;
using WaitEnd = VersionCheck::WaitEnd;
using PreviousWorker = VersionCheck::PreviousWorker;

constexpr const char* kRequest = "GET /~vorlik_/h3/ver_qmk.txt\r\n";
constexpr const char* kNotAvailable = "Current version information was not available.";
constexpr const char* kMoreRecent1001 =
    "A more recent version (1.0.0.1) of Quillmark is available.\n\nWould you like to download "
    "it now?";

std::string ServerReturned(const std::string& line) {
  return "An error occurred retrieving the current version.\nThe server returned \"" + line + "\".";
}

class VersionCheckTest : public ::testing::Test {
 protected:
  void TearDown() override {
    check.reset();
    // Nothing a test started may outlive it.
    EXPECT_TRUE(PumpUntil(ui, [] { return VersionCheck::LiveWorkers() == 0; }));
  }

  VersionCheck& MakeCheck(std::uint16_t port) {
    check = std::make_unique<VersionCheck>(inputs, ui, cursor, port);
    return *check;
  }

  // The handler, then the user-interface thread's event loop until the worker has ended.
  void RunCheck() {
    check->OnCheckForUpdates();
    ASSERT_TRUE(PumpUntil(ui, [this] { return !check->WorkerRunning(); }));
  }

  void ExpectOneBox(const std::string& text, unsigned style) {
    const auto boxes = seams.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].style, style);
    EXPECT_EQ(boxes[0].caption, "Quillmark");
    EXPECT_EQ(boxes[0].owner, inputs.mainWindow);
  }

  RecordingSeams seams;
  ManualUiThread ui;
  CountingCursor cursor;
  FieldInputs inputs;
  std::unique_ptr<VersionCheck> check;
};

TEST_F(VersionCheckTest, EachReplyEndsInItsBoxAfterTheExactRequest) {
  struct Case {
    const char* name;
    std::string own;
    std::string reply;
    std::optional<int> answer;
    std::optional<std::string> storedUrl;
    std::string text;
    unsigned style;
    std::vector<std::string> opened;
  };
  const std::string url = "downloads.example.net/qm/get.html";
  const Case cases[] = {
      {"same version",
       "1.0.0.0",
       "1.0.0.0\r\n",
       {},
       url,
       "You have the lastest version of Quillmark (1.0.0.0).",
       0x40,
       {}},
      {"newer, yes",
       "1.0.0.0",
       "1.0.0.1\r\nmore\r\n",
       QM_IDYES,
       url,
       kMoreRecent1001,
       0x24,
       {"http://" + url}},
      {"newer, no", "1.0.0.0", "1.0.0.1\r\n", QM_IDNO, url, kMoreRecent1001, 0x24, {}},
      {"newer, no download URL stored",
       "1.0.0.0",
       "1.0.0.1\n",
       QM_IDYES,
       std::nullopt,
       kMoreRecent1001,
       0x24,
       {"http://www.vellicor.example/quillmark/download.html"}},
      {"lexical order",
       "1.0.0.10",
       "1.0.0.9\r\n",
       QM_IDNO,
       url,
       "A more recent version (1.0.0.9) of Quillmark is available.\n\nWould you like to "
       "download it now?",
       0x24,
       {}},
      {"prefix sorts first",
       "1.0.0.0",
       "1.0\r\n",
       {},
       url,
       "You have a version of Quillmark that is newer than the general release (1.0).",
       0x30,
       {}},
      {"no version record", "", "1.0.0.0\r\n", {}, url, kNotAvailable, 0x10, {}},
      {"closed without data", "1.0.0.0", "", {}, url, kNotAvailable, 0x10, {}},
      {"full status line",
       "1.0.0.0",
       "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n1.0.0.1\r\n",
       {},
       url,
       ServerReturned("HTTP/1.1 200 OK"),
       0x10,
       {}},
      {"trailing blank", "1.0.0.0", "1.0.0.1 \r\n", {}, url, ServerReturned("1.0.0.1 "), 0x10, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSeams caseSeams;
    LoopbackServer server({{Action::kReply, c.reply}});
    inputs.ownVersion = c.own;
    inputs.storedDownloadUrl = c.storedUrl;
    inputs.downloadUrlReadOn.clear();
    cursor.log.clear();
    if (c.answer) caseSeams.AnswerNext(*c.answer);
    MakeCheck(server.Port());

    RunCheck();

    EXPECT_EQ(check->LastCheck().wait, WaitEnd::kDone);
    EXPECT_EQ(server.Requests(), std::vector<std::string>{kRequest});
    const auto boxes = caseSeams.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].style, c.style);
    EXPECT_EQ(boxes[0].caption, "Quillmark");
    EXPECT_EQ(boxes[0].owner, inputs.mainWindow);
    EXPECT_EQ(caseSeams.Opened(), c.opened);
    // The profile is read only for a download, and on the user-interface thread.
    EXPECT_EQ(inputs.downloadUrlReadOn,
              std::vector<std::thread::id>(c.opened.size(), std::this_thread::get_id()));
    EXPECT_EQ(cursor.log, (std::vector<std::string>{"begin", "end"}));
  }
}

TEST_F(VersionCheckTest, ConnectionFailuresShowTheirMessages) {
  struct Case {
    const char* name;
    std::string hostname;
    std::uint16_t port;
    std::string text;
    bool makesSocket;
  };
  const Case cases[] = {
      {"host does not resolve", "quillmark-version.invalid", 80,
       "IP address lookup failed.\nIf you have a dialup internet connection, please establish "
       "it and then try again.",
       false},
      {"connection refused", "127.0.0.1", UnusedLoopbackPort(),
       "Unable to connect to website.\nConnection error (" + std::to_string(ECONNREFUSED) +
           ").\nIf you have a dialup internet connection, please establish it and then try "
           "again.",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSeams caseSeams;
    inputs.hostname = c.hostname;
    MakeCheck(c.port);
    const auto socketsBefore = VersionCheck::SocketsMade();

    RunCheck();

    EXPECT_EQ(check->LastCheck().wait, WaitEnd::kDone);
    EXPECT_EQ(VersionCheck::SocketsMade() - socketsBefore, c.makesSocket ? 1u : 0u);
    const auto boxes = caseSeams.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].style, QM_MB_ICONERROR);
  }
}

TEST_F(VersionCheckTest, AResetDuringTheReadEndsSilentlyAndReleasesTheWait) {
  LoopbackServer server({{Action::kReset, {}}});
  MakeCheck(server.Port());

  RunCheck();

  // The error exit sets the done event: the wait ends on it, not on the 2000 ms limit.
  EXPECT_EQ(check->LastCheck().wait, WaitEnd::kDone);
  EXPECT_EQ(server.Requests(), std::vector<std::string>{kRequest});
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_EQ(cursor.log, (std::vector<std::string>{"begin", "end"}));
}

TEST_F(VersionCheckTest, AnEndlessLineIsQuotedUpToTheLimit) {
  LoopbackServer server({{Action::kEndless, {}}});
  MakeCheck(server.Port());

  RunCheck();

  ExpectOneBox(ServerReturned(std::string(kMaxReplyLine, '1')), QM_MB_ICONERROR);
}

TEST_F(VersionCheckTest, ASecondCheckStopsAWorkerThatWaitsForItsReply) {
  LoopbackServer server({{Action::kHold, {}}, {Action::kReply, "1.0.0.0\r\n"}});
  MakeCheck(server.Port());

  // A silent server is waited for two seconds, never less; the upper margin is wide
  // enough for any scheduling delay but not for a wait of a different length.
  const auto start = std::chrono::steady_clock::now();
  check->OnCheckForUpdates();
  const auto blocked = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(check->LastCheck().wait, WaitEnd::kTimeout);
  EXPECT_GE(blocked, 2000ms);
  EXPECT_LT(blocked, 2000ms + 2500ms);
  EXPECT_TRUE(check->WorkerRunning());
  EXPECT_EQ(cursor.log, (std::vector<std::string>{"begin", "end"}));

  RunCheck();

  // The old worker was stopped and had ended before the new one started.
  EXPECT_EQ(check->LastCheck().previous, PreviousWorker::kStopped);
  EXPECT_EQ(check->LastCheck().wait, WaitEnd::kDone);
  EXPECT_TRUE(server.WaitForClientClose(5s));
  EXPECT_EQ(server.Requests(), (std::vector<std::string>{kRequest, kRequest}));
  // Only the fresh check shows a box.
  ExpectOneBox("You have the lastest version of Quillmark (1.0.0.0).", QM_MB_ICONINFORMATION);
  EXPECT_TRUE(PumpUntil(ui, [] { return VersionCheck::LiveWorkers() == 0; }));
}

// A listener whose accept queue is full: the kernel drops further connection attempts,
// so a connect waits as on an address that never answers.
class BlackholeListener {
 public:
  BlackholeListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    m_listener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ::bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listener.Get(), 0);
    ::getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    m_filler.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    ::connect(m_filler.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  std::uint16_t port = 0;

 private:
  UniqueFd m_listener;
  UniqueFd m_filler;
};

TEST_F(VersionCheckTest, AWorkerStuckInItsConnectIsStoppedByTheNextCheck) {
  BlackholeListener blackhole;
  MakeCheck(blackhole.port);
  const auto socketsBefore = VersionCheck::SocketsMade();

  check->OnCheckForUpdates();
  ASSERT_EQ(check->LastCheck().wait, WaitEnd::kTimeout);
  EXPECT_EQ(VersionCheck::SocketsMade() - socketsBefore, 1u);

  inputs.hostname = "quillmark-version.invalid";
  RunCheck();

  EXPECT_EQ(check->LastCheck().previous, PreviousWorker::kStopped);
  const auto boxes = seams.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.rfind("IP address lookup failed.", 0), 0u);
}

TEST_F(VersionCheckTest, ShutdownStopsAWaitingWorkerAndDropsItsPendingBox) {
  {
    LoopbackServer server({{Action::kHold, {}}});
    MakeCheck(server.Port());
    check->OnCheckForUpdates();
    ASSERT_EQ(check->LastCheck().wait, WaitEnd::kTimeout);
    check->Shutdown();
    EXPECT_TRUE(PumpUntil(ui, [] { return VersionCheck::LiveWorkers() == 0; }));
    EXPECT_TRUE(server.WaitForClientClose(5s));
  }
  {
    // The worker has its answer and waits for its box, which the event loop has not
    // shown yet when the program ends.
    LoopbackServer server({{Action::kReply, "1.0.0.1\r\n"}});
    MakeCheck(server.Port());
    check->OnCheckForUpdates();
    ASSERT_EQ(check->LastCheck().wait, WaitEnd::kDone);
    check->Shutdown();
    EXPECT_TRUE(PumpUntil(ui, [] { return VersionCheck::LiveWorkers() == 0; }));
  }
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_TRUE(seams.Opened().empty());
  EXPECT_TRUE(inputs.downloadUrlReadOn.empty());
}

}  // namespace
