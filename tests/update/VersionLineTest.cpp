#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "desktop/UserSeams.h"
#include "update/VersionLine.h"

namespace {

// Feeds the reader the given pieces, one receive each, then the end of the connection or
// a failure.
struct Feed {
  std::vector<std::string> pieces;
  bool failAtEnd = false;
  std::size_t next = 0;
  std::size_t receives = 0;

  ssize_t Receive(char* buffer, std::size_t size) {
    ++receives;
    if (next == pieces.size()) return failAtEnd ? -1 : 0;
    std::string& piece = pieces[next];
    const std::size_t n = std::min(size, piece.size());
    std::memcpy(buffer, piece.data(), n);
    piece.erase(0, n);
    if (piece.empty()) ++next;
    return static_cast<ssize_t>(n);
  }
};

using Result = ReplyLineReader::Result;

TEST(ReplyLineReaderTest, FirstLineEndsAtLfCrLfOrTheEndOfTheConnection) {
  const std::string digits4096(kMaxReplyLine, '7');
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    bool failAtEnd;
    Result result;
    std::string line;
  };
  const Case cases[] = {
      {"crlf", {"1.0.0.0\r\nrest\r\n"}, false, Result::kLine, "1.0.0.0"},
      {"lf", {"1.0\nrest"}, false, Result::kLine, "1.0"},
      {"end of connection", {"1.0.0.1"}, false, Result::kLine, "1.0.0.1"},
      {"nothing at all", {}, false, Result::kLine, ""},
      {"blank line", {"\r\n1.0.0.0\r\n"}, false, Result::kLine, ""},
      {"cr lf split across receives", {"1.0\r", "\n9.9"}, false, Result::kLine, "1.0"},
      {"lone cr stays in the line", {"1.0\r2.0\n"}, false, Result::kLine, "1.0\r2.0"},
      {"cr before the end stays", {"1.0\r"}, false, Result::kLine, "1.0\r"},
      {"trailing blank kept", {"1.0.0.1 \r\n"}, false, Result::kLine, "1.0.0.1 "},
      {"line in many pieces", {"1", ".", "0", ".0.", "0\r", "\n"}, false, Result::kLine, "1.0.0.0"},
      {"failure before the line end", {"1.0"}, true, Result::kFailed, ""},
      {"exactly the limit", {digits4096 + "\r\n"}, false, Result::kLine, digits4096},
      {"exactly the limit at the end", {digits4096}, false, Result::kLine, digits4096},
      {"one byte over", {digits4096 + "1\r\n"}, false, Result::kTooLong, digits4096},
      {"limit then a lone cr", {digits4096 + "\rx"}, false, Result::kTooLong, digits4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Feed feed{c.pieces, c.failAtEnd};
    ReplyLineReader reader(
        [&feed](char* buffer, std::size_t size) { return feed.Receive(buffer, size); });
    std::string line = "stale";
    const Result result = reader.ReadFirstLine(line);
    EXPECT_EQ(result, c.result);
    if (result != Result::kFailed) {
      EXPECT_EQ(line, c.line);
    }
  }
}

TEST(ReplyLineReaderTest, AnEndlessLineIsCutWithoutReadingOnAndOn) {
  // A megabyte offered in one go: the reader takes one buffer and one byte more at most.
  Feed feed{{std::string(1 << 20, '1')}};
  std::size_t taken = 0;
  ReplyLineReader reader([&](char* buffer, std::size_t size) {
    const ssize_t got = feed.Receive(buffer, size);
    taken += static_cast<std::size_t>(std::max<ssize_t>(got, 0));
    return got;
  });
  std::string line;
  EXPECT_EQ(reader.ReadFirstLine(line), Result::kTooLong);
  EXPECT_EQ(line, std::string(kMaxReplyLine, '1'));
  EXPECT_LE(taken, 2 * kMaxReplyLine);
}

TEST(VersionTextTest, OnlyDigitsAndFullStopsPass) {
  const struct {
    std::string line;
    bool passes;
  } cases[] = {
      {"1.0.0.0", true},  {"", true},
      {"..", true},       {"1.0.0.1 ", false},
      {"v1.0", false},    {"1,0", false},
      {"1.0\r", false},   {"HTTP/1.1 200 OK", false},
      {"1.0\xb9", false}, {std::string("1\0", 2), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsVersionText(c.line), c.passes) << '"' << c.line << '"';
  }
}

// The boxes themselves are covered against a server; here only the order between
// versions that the loopback tests do not reach.
TEST(DecideVersionBoxTest, OrderIsByteWiseNotNumeric) {
  const struct {
    std::string own;
    std::string remote;
    unsigned style;
  } cases[] = {
      {"1.10.0.0", "1.9.0.0", QM_MB_ICONQUESTION | QM_MB_YESNO},
      {"1.0.0.9", "1.0.0.10", QM_MB_ICONWARNING},
      {"1.0", "10", QM_MB_ICONQUESTION | QM_MB_YESNO},  // the full stop sorts before every digit
      {"10", "1.0", QM_MB_ICONWARNING},
      {"1.0.0.0", "", QM_MB_ICONERROR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.own + " vs " + c.remote);
    const VersionBox box = DecideVersionBox(c.own, c.remote);
    EXPECT_EQ(box.style, c.style);
    EXPECT_EQ(box.offersDownload, c.style == (QM_MB_ICONQUESTION | QM_MB_YESNO));
  }
}

}  // namespace
