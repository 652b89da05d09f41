#include "settings/ProfileStoreIni.h"

#include <climits>

#include "settings/Utf8Text.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Text built from raw bytes and from the UTF-16 code units that escapes stand for; a
// surrogate pair becomes its one character, a lone surrogate U+FFFD.
class DecodedText {
 public:
  void Bytes(std::string_view bytes) {
    Flush();
    m_text += bytes;
  }
  void Unit(std::uint16_t unit) {
    if (unit >= 0xDC00 && unit <= 0xDFFF && m_high) {
      AppendUtf8(m_text, 0x10000 + ((static_cast<char32_t>(*m_high) - 0xD800) << 10) + (unit - 0xDC00));
      m_high.reset();
      return;
    }
    Flush();
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      m_high = unit;
    } else {
      AppendUtf8(m_text, unit >= 0xDC00 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
  }
  // The length so far, not counting a high surrogate that waits for its pair.
  std::size_t Size() const { return m_text.size(); }
  std::string& Text() {
    Flush();
    return m_text;
  }

 private:
  void Flush() {
    if (m_high) AppendUtf8(m_text, 0xFFFD);
    m_high.reset();
  }
  std::string m_text;
  std::optional<std::uint16_t> m_high;
};

// The escapes of one character each, both ways.
struct SimpleEscape {
  char letter;
  char value;
};
constexpr SimpleEscape kSimpleEscapes[] = {{'a', '\a'},  {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                           {'r', '\r'},  {'t', '\t'}, {'v', '\v'}, {'"', '"'},
                                           {'?', '?'},   {'\'', '\''}, {'\\', '\\'}};

// A value with its escapes, quotes and surrounding blanks undone, before any "@" form is
// looked at.
std::string UnescapeText(std::string_view s) {
  DecodedText out;
  bool inQuotes = false;
  bool quoted = false;
  bool endedInEscape = false;  // the toolkit keeps trailing blanks then
  std::size_t i = 0;
  const auto skipBlanks = [&] {
    while (i < s.size() && IsBlank(s[i])) ++i;
  };
  skipBlanks();
  std::size_t chopLimit = 0;  // blanks that an escape or a quote gave are kept
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"') {
      ++i;
      quoted = true;
      inQuotes = !inQuotes;
      if (!inQuotes) skipBlanks();
      chopLimit = out.Size();
      continue;
    }
    if (c != '\\') {
      std::size_t j = i + 1;
      while (j < s.size() && s[j] != '\\' && s[j] != '"') ++j;
      out.Bytes(s.substr(i, j - i));
      i = j;
      continue;
    }
    if (++i >= s.size()) {
      endedInEscape = true;
      break;
    }
    const char e = s[i++];
    bool simple = false;
    for (const SimpleEscape& escape : kSimpleEscapes) {
      if (e == escape.letter) {
        out.Bytes(std::string_view(&escape.value, 1));
        simple = true;
        break;
      }
    }
    if (!simple && (e == 'x' || (e >= '0' && e <= '7'))) {
      const bool hex = e == 'x';
      if (hex && (i >= s.size() || HexValue(s[i]) < 0)) {
        // "\x" without a digit stands for nothing
        endedInEscape = i >= s.size();
        if (endedInEscape) break;
        chopLimit = out.Size();
        continue;
      }
      std::uint16_t unit = hex ? 0 : static_cast<std::uint16_t>(e - '0');
      for (; i < s.size(); ++i) {
        const int digit = hex ? HexValue(s[i]) : (s[i] >= '0' && s[i] <= '7' ? s[i] - '0' : -1);
        if (digit < 0) break;
        unit = static_cast<std::uint16_t>((unit << (hex ? 4 : 3)) + digit);
      }
      out.Unit(unit);
      if (i >= s.size()) {
        endedInEscape = true;
        break;
      }
    } else if (!simple && IsLineEnd(e)) {
      // a line continued: "\" before any of the line ends \n, \r, \r\n and \n\r
      if (i < s.size() && IsLineEnd(s[i]) && s[i] != e) ++i;
    }
    // any other escaped character stands for nothing
    chopLimit = out.Size();
  }
  std::string& text = out.Text();
  if (!quoted && !endedInEscape) {
    while (text.size() > chopLimit && IsBlank(text.back())) text.pop_back();
  }
  return text;
}

// Code points of UTF-8 text as bytes: each up to U+00FF is that byte, any other '?'; a byte
// that starts no sequence is taken as it is.
std::string Latin1Bytes(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    if (const std::optional<char32_t> code = NextUtf8(text, at)) {
      out += *code <= 0xFF ? static_cast<char>(*code) : '?';
    } else {
      out += text[at++];
    }
  }
  return out;
}

void AppendLowerHex(std::string& out, std::uint32_t value) {
  static const char kDigits[] = "0123456789abcdef";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  out += digits;
}

// One text (or, for bytes, their Latin-1 characters) escaped; quoted when it holds ';',
// ',' or '=' or begins or ends with a blank. A digit right after a \x or \0 escape is
// escaped too, so that it cannot be read as part of it.
std::string EscapeCodePoints(const std::u32string& text, bool escapeAboveAscii) {
  std::string out;
  bool needsQuotes = false;
  bool escapeNextIfDigit = false;
  for (const char32_t ch : text) {
    if (ch == ';' || ch == ',' || ch == '=') needsQuotes = true;
    if (escapeNextIfDigit && ch < 0x80 && HexValue(static_cast<char>(ch)) >= 0) {
      out += "\\x";
      AppendLowerHex(out, ch);
      continue;
    }
    escapeNextIfDigit = false;
    bool simple = false;
    for (const SimpleEscape& escape : kSimpleEscapes) {
      if (ch == static_cast<unsigned char>(escape.value) && escape.letter != '?' && escape.letter != '\'') {
        out += '\\';
        out += escape.letter;
        simple = true;
        break;
      }
    }
    if (simple) continue;
    if (ch == 0) {
      out += "\\0";
      escapeNextIfDigit = true;
    } else if (ch < 0x20 || ch == 0x7F || (ch > 0x7F && escapeAboveAscii)) {
      out += "\\x";
      AppendLowerHex(out, ch);
      escapeNextIfDigit = true;
    } else {
      AppendUtf8(out, ch);
    }
  }
  if (needsQuotes || (!out.empty() && (out.front() == ' ' || out.back() == ' '))) out = '"' + out + '"';
  return out;
}

std::string TrimSpaces(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && space(text[begin])) ++begin;
  while (end > begin && space(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// The index just past the end of the line that holds text[at], its line end included.
std::size_t PastLineEnd(std::string_view text, std::size_t at) {
  while (at < text.size() && !IsLineEnd(text[at])) ++at;
  if (at < text.size()) at += text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
  return at;
}

}  // namespace

IniText::IniText(std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  std::string section;
  std::size_t pos = 0;
  while (pos < text.size()) {
    Record record{{}, Kind::Other, {}, {}, {}};
    std::size_t i = pos;
    while (i < text.size() && IsBlank(text[i])) ++i;
    std::size_t end = i;
    bool inQuotes = false;
    std::size_t equals = std::string_view::npos;
    if (i < text.size() && text[i] != ';') {
      // The logical line ends at a line end or a ';' outside quotes; a quoted text may
      // run over several lines, and an escaped line end continues the line.
      for (end = i; end < text.size(); ++end) {
        const char c = text[end];
        if (c == '=') {
          if (!inQuotes && equals == std::string_view::npos) equals = end;
        } else if (IsLineEnd(c) || c == ';') {
          if (!inQuotes) break;
        } else if (c == '\\' && end + 1 < text.size()) {
          const char e = text[++end];
          if (end + 1 < text.size() && IsLineEnd(e) && IsLineEnd(text[end + 1]) && text[end + 1] != e) ++end;
        } else if (c == '"') {
          inQuotes = !inQuotes;
        }
      }
    }
    const std::string_view content = text.substr(i, end - i);
    const std::size_t next = PastLineEnd(text, end);
    record.raw = std::string(text.substr(pos, next - pos));
    pos = next;
    if (!content.empty() && content.front() == '[') {
      const std::size_t close = content.find(']');
      const std::string header = TrimSpaces(content.substr(1, close == std::string_view::npos ? close : close - 1));
      if (EqualsIgnoringAsciiCase(header, "general")) {
        section.clear();
      } else if (EqualsIgnoringAsciiCase(header, "%general")) {
        section = header.substr(1);
      } else {
        section = DecodeIniName(header);
      }
      record.kind = Kind::Section;
    } else if (equals != std::string_view::npos) {
      std::size_t keyEnd = equals - i;
      while (keyEnd > 0 && IsBlank(content[keyEnd - 1])) --keyEnd;
      record.kind = Kind::Entry;
      record.name = DecodeIniName(content.substr(0, keyEnd));
      record.value = std::string(content.substr(equals - i + 1));
    }
    record.section = section;
    m_records.push_back(std::move(record));
  }
}

std::optional<std::size_t> IniText::FindRecord(const std::string& section, const std::string& entry) const {
  std::optional<std::size_t> found;
  for (std::size_t i = 0; i < m_records.size(); ++i) {
    const Record& record = m_records[i];
    if (record.kind == Kind::Entry && record.section == section && record.name == entry) found = i;
  }
  return found;
}

std::optional<std::string> IniText::Find(const std::string& section, const std::string& entry) const {
  const std::optional<std::size_t> at = FindRecord(section, entry);
  if (!at) return std::nullopt;
  return m_records[*at].value;
}

void IniText::Set(const std::string& section, const std::string& entry, const std::string& text) {
  const std::string value = EncodeIniValue(text);
  Record line{EncodeIniName(entry) + "=" + value + "\n", Kind::Entry, section, entry, value};
  if (const std::optional<std::size_t> at = FindRecord(section, entry)) {
    m_records[*at] = std::move(line);
    return;
  }
  // After the last header or entry of the section; values outside any section go first.
  std::optional<std::size_t> insertAt;
  if (section.empty()) insertAt = 0;
  for (std::size_t i = 0; i < m_records.size(); ++i) {
    if (m_records[i].section == section && m_records[i].kind != Kind::Other) insertAt = i + 1;
  }
  const auto endLine = [this](std::size_t count) {
    if (count > 0 && !m_records[count - 1].raw.empty() && !IsLineEnd(m_records[count - 1].raw.back())) {
      m_records[count - 1].raw += '\n';
    }
  };
  if (insertAt) {
    endLine(*insertAt);
    m_records.insert(m_records.begin() + static_cast<std::ptrdiff_t>(*insertAt), std::move(line));
    return;
  }
  endLine(m_records.size());
  if (!m_records.empty() && !TrimSpaces(m_records.back().raw).empty()) {
    m_records.push_back(Record{"\n", Kind::Other, m_records.back().section, {}, {}});
  }
  const std::string name = EqualsIgnoringAsciiCase(section, "general") ? "%" + section : EncodeIniName(section);
  m_records.push_back(Record{"[" + name + "]\n", Kind::Section, section, {}, {}});
  m_records.push_back(std::move(line));
}

bool IniText::RemoveSection(const std::string& section) {
  const std::size_t before = m_records.size();
  std::erase_if(m_records, [&](const Record& record) { return record.section == section && (!section.empty() || record.kind != Kind::Other); });
  return m_records.size() != before;
}

std::string IniText::Text() const {
  std::string text;
  for (const Record& record : m_records) text += record.raw;
  return text;
}

std::optional<std::string> DecodeIniValue(std::string_view raw) {
  const std::string text = UnescapeText(raw);
  if (text.empty() || text.front() != '@') return text;
  if (text.back() == ')') {
    const auto inside = [&](std::string_view prefix) {
      return std::string_view(text).substr(prefix.size(), text.size() - prefix.size() - 1);
    };
    if (text.starts_with("@ByteArray(")) return Latin1Bytes(inside("@ByteArray("));
    if (text.starts_with("@String(")) return std::string(inside("@String("));
    for (const char* typed : {"@Variant(", "@DateTime(", "@Rect(", "@Size(", "@Point("}) {
      if (text.starts_with(typed)) return std::nullopt;
    }
    if (text == "@Invalid()") return std::nullopt;
  }
  if (text.starts_with("@@")) return text.substr(1);
  return text;
}

std::string EncodeIniValue(const std::string& text) {
  std::u32string codes;
  if (!IsUtf8(text)) {
    // Bytes that are no UTF-8 text go as a byte array, every byte above 0x7E escaped.
    for (const char c : std::string_view("@ByteArray(")) codes += static_cast<char32_t>(c);
    for (const char c : text) codes += static_cast<unsigned char>(c);
    codes += U')';
    return EscapeCodePoints(codes, true);
  }
  if (!text.empty() && text.front() == '@') codes += U'@';
  for (std::size_t at = 0; at < text.size();) codes += *NextUtf8(text, at);
  return EscapeCodePoints(codes, false);
}

std::string DecodeIniName(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size();) {
    const char c = raw[i];
    if (c == '\\') {
      out += '/';
      ++i;
      continue;
    }
    if (c == '%' && i + 1 < raw.size()) {
      const bool wide = raw[i + 1] == 'U';
      const std::size_t first = i + (wide ? 2 : 1);
      const std::size_t count = wide ? 4 : 2;
      char32_t code = 0;
      bool ok = first + count <= raw.size();
      for (std::size_t k = 0; ok && k < count; ++k) {
        const int digit = HexValue(raw[first + k]);
        ok = digit >= 0;
        code = code * 16 + static_cast<char32_t>(digit);
      }
      if (ok) {
        AppendUtf8(out, code);
        i = first + count;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

std::string EncodeIniName(const std::string& name) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t at = 0; at < name.size();) {
    const std::optional<char32_t> decoded = NextUtf8(name, at);
    // A byte that starts no UTF-8 sequence goes as the character of its value.
    const char32_t code = decoded ? *decoded : static_cast<unsigned char>(name[at++]);
    const bool plain = (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9') ||
                       code == '-' || code == '_' || code == '.';
    if (plain) {
      out += static_cast<char>(code);
    } else if (code == '/') {
      out += '\\';
    } else if (code <= 0xFF) {
      out += '%';
      out += kDigits[code >> 4];
      out += kDigits[code & 0xF];
    } else {
      // Beyond the first plane as its two UTF-16 units.
      const auto unit = [&](char32_t u) {
        out += "%U";
        for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(u >> shift) & 0xF];
      };
      if (code >= 0x10000) {
        unit(0xD800 + ((code - 0x10000) >> 10));
        unit(0xDC00 + ((code - 0x10000) & 0x3FF));
      } else {
        unit(code);
      }
    }
  }
  return out;
}

std::optional<std::int32_t> IniIntegerValue(const std::string& stored) {
  const std::string text = TrimSpaces(stored);
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty()) return std::nullopt;
  std::size_t at = 0;
  bool negative = false;
  if (!hex && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    at = 1;
  }
  if (at == digits.size()) return std::nullopt;
  long long value = 0;
  for (; at < digits.size(); ++at) {
    const int digit = hex ? HexValue(digits[at]) : (digits[at] >= '0' && digits[at] <= '9' ? digits[at] - '0' : -1);
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + digit;
    if (value > 0xFFFFFFFFLL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT32_MIN) return std::nullopt;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value & 0xFFFFFFFF));
}
