// The pieces of the version check that involve no thread: the texts, the reply line
// reader, the check of the line and the decision that picks the box.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

// Every text of the check, exactly as the user sees it.
namespace VersionTexts {
inline constexpr const char* kCaption = "Quillmark";
inline constexpr const char* kLookupFailed =
    "IP address lookup failed.\nIf you have a dialup internet connection, please establish it "
    "and then try again.";
inline constexpr const char* kSocketServices = "An error occurred initializing socket services.";
inline constexpr const char* kSocketCreation =
    "Unable to connect to website.\nSocket creation error (%d).";
inline constexpr const char* kConnection =
    "Unable to connect to website.\nConnection error (%d).\nIf you have a dialup internet "
    "connection, please establish it and then try again.";
inline constexpr const char* kSocketError = "Unable to connect to website.\nSocket error (%d).";
inline constexpr const char* kRequestFailed =
    "An error occurred while requesting the current version.";
inline constexpr const char* kServerReturned =
    "An error occurred retrieving the current version.\nThe server returned \"%s\".";
inline constexpr const char* kNotAvailable = "Current version information was not available.";
inline constexpr const char* kLatest = "You have the lastest version of Quillmark (%s).";
inline constexpr const char* kNewerThanRelease =
    "You have a version of Quillmark that is newer than the general release (%s).";
inline constexpr const char* kMoreRecent =
    "A more recent version (%s) of Quillmark is available.\n\nWould you like to download it "
    "now?";
}  // namespace VersionTexts

// Replaces the one "%s" or "%d" of `pattern` with `value`.
std::string FormatVersionText(const char* pattern, const std::string& value);

// The longest reply line we read. The server only ever sends a version number; without
// a limit a hostile server could make us buffer without end.
inline constexpr std::size_t kMaxReplyLine = 4096;

// Reads the first line of a reply through a 4096-byte buffer. `receive` fills up to `size`
// bytes and returns how many (0 at the end of the connection, negative on failure).
class ReplyLineReader {
 public:
  using Receive = std::function<long(char* buffer, std::size_t size)>;
  enum class Result {
    kLine,     // ended by LF, CR LF or the end of the connection
    kTooLong,  // more than kMaxReplyLine bytes before the end; `line` holds the first ones
    kFailed,   // the connection failed while reading
  };

  explicit ReplyLineReader(Receive receive) : m_receive(std::move(receive)) {}
  ReplyLineReader(const ReplyLineReader&) = delete;
  ReplyLineReader& operator=(const ReplyLineReader&) = delete;

  // A lone CR stays part of the line; only LF or the pair CR LF ends it.
  Result ReadFirstLine(std::string& line);

 private:
  static constexpr int kEnd = -1;
  static constexpr int kFailure = -2;
  int NextByte();

  Receive m_receive;
  char m_buffer[4096] = {};
  std::size_t m_next = 0;
  std::size_t m_filled = 0;
};

// True when every byte is an ASCII digit or "." (so the empty line passes).
bool IsVersionText(const std::string& line);

// The box that reports the outcome of a check with both versions known.
struct VersionBox {
  std::string text;
  unsigned style;
  bool offersDownload;  // Yes opens the download page
};
// Byte-wise lexical order, as the server's files are written for: 1.0.0.10 sorts before
// 1.0.0.9, 1.0 before 1.0.0.0.
VersionBox DecideVersionBox(const std::string& own, const std::string& remote);
