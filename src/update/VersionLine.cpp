#include "update/VersionLine.h"

#include "desktop/UserSeams.h"

std::string FormatVersionText(const char* pattern, const std::string& value) {
  std::string text(pattern);
  const std::size_t at = text.find('%');
  if (at != std::string::npos && at + 1 < text.size()) text.replace(at, 2, value);
  return text;
}

int ReplyLineReader::NextByte() {
  if (m_next == m_filled) {
    const long got = m_receive(m_buffer, sizeof m_buffer);
    if (got < 0) return kFailure;
    if (got == 0) return kEnd;
    m_next = 0;
    m_filled = static_cast<std::size_t>(got);
  }
  return static_cast<unsigned char>(m_buffer[m_next++]);
}

ReplyLineReader::Result ReplyLineReader::ReadFirstLine(std::string& line) {
  line.clear();
  // A CR is held back until the next byte tells whether it is half of a CR LF pair.
  bool heldCr = false;
  auto append = [&line](char c) {
    line.push_back(c);
    return line.size() <= kMaxReplyLine;
  };
  for (;;) {
    const int c = NextByte();
    if (c == kFailure) return Result::kFailed;
    if (c == '\n') return Result::kLine;
    if (heldCr) {
      heldCr = false;
      if (!append('\r')) break;
    }
    if (c == kEnd) return Result::kLine;
    if (c == '\r') {
      heldCr = true;
      continue;
    }
    if (!append(static_cast<char>(c))) break;
  }
  line.resize(kMaxReplyLine);
  return Result::kTooLong;
}

bool IsVersionText(const std::string& line) {
  for (const char c : line) {
    if (!((c >= '0' && c <= '9') || c == '.')) return false;
  }
  return true;
}

VersionBox DecideVersionBox(const std::string& own, const std::string& remote) {
  using namespace VersionTexts;
  if (remote.empty() || own.empty()) return {kNotAvailable, QM_MB_ICONERROR, false};
  // std::string compares char as unsigned bytes, a prefix sorting first.
  const int order = own.compare(remote);
  if (order == 0) return {FormatVersionText(kLatest, remote), QM_MB_ICONINFORMATION, false};
  if (order > 0) return {FormatVersionText(kNewerThanRelease, remote), QM_MB_ICONWARNING, false};
  return {FormatVersionText(kMoreRecent, remote), QM_MB_ICONQUESTION | QM_MB_YESNO, true};
}
