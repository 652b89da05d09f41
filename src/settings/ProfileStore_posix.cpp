#include "settings/ProfileStore.h"

// The profile on Linux and other POSIX systems: an INI file under the user's
// configuration folder, in the layout that earlier releases wrote through the desktop
// toolkit's settings class, so their profiles read on:
//   [Recent%20Backgrounds]
//   File1=/home/me/DarkRivets.bmp
// Section and value names are percent-encoded apart from letters, digits, '-', '_' and
// '.'. A text is written bare when it reads back unchanged that way, otherwise in double
// quotes with backslash escapes; a leading '@' is doubled. Reading undoes all of that and
// nothing more: commas and blanks inside a text are part of it.
//
// Lines this store does not understand (notes, stray text before the first section) are
// kept as they are. Every write rewrites the whole file through a temporary file in the
// same folder and a rename, so a reader never sees half a file and a failed write leaves
// the old one in place.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

// Writers of this process take turns; readers need no lock, since a file is only ever
// replaced whole.
std::mutex g_writeLock;

bool IsPlainKeyChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Names are stored byte by byte: a byte outside the plain set becomes %XX.
std::string EscapeName(const std::string& name) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsPlainKeyChar(c)) {
      out += ch;
    } else {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 0xF];
    }
  }
  return out;
}

// Also takes %UXXXX (a character beyond Latin-1, as UTF-8) and '\' for '/'.
std::string UnescapeName(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      const int value = HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]);
      // Older files held Latin-1 characters this way; a byte of UTF-8 goes in as it is.
      out += static_cast<char>(value);
      i += 2;
    } else if (c == '%' && i + 5 < text.size() && text[i + 1] == 'U' && HexValue(text[i + 2]) >= 0 &&
               HexValue(text[i + 3]) >= 0 && HexValue(text[i + 4]) >= 0 && HexValue(text[i + 5]) >= 0) {
      std::uint32_t code = 0;
      for (int k = 2; k <= 5; ++k) code = code * 16 + static_cast<std::uint32_t>(HexValue(text[i + k]));
      AppendUtf8(out, code);
      i += 5;
    } else if (c == '\\') {
      out += '/';
    } else {
      out += c;
    }
  }
  return out;
}

std::string Trim(const std::string& text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// A text that needs no quotes and no escapes reads back as written.
bool IsBare(const std::string& value) {
  if (value.empty()) return true;
  if (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' || value.back() == '\t') {
    return false;
  }
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '"' || c == '\\' || c == ';' || c == ',' || c == '=') return false;
  }
  return true;
}

std::string EscapeValue(const std::string& value) {
  std::string text = !value.empty() && value.front() == '@' ? "@" + value : value;
  if (IsBare(text)) return text;
  std::string out = "\"";
  for (const char ch : text) {
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\a': out += "\\a"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\v': out += "\\v"; break;
      case '\0': out += "\\0"; break;
      default:
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) {
          static const char kDigits[] = "0123456789abcdef";
          out += "\\x";
          out += kDigits[(static_cast<unsigned char>(ch) >> 4) & 0xF];
          out += kDigits[static_cast<unsigned char>(ch) & 0xF];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

// The text of a stored value, or nothing when it holds no text (a binary or typed value
// of another program).
std::optional<std::string> UnescapeValue(const std::string& raw) {
  const std::string text = Trim(raw);
  std::string out;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\\' && i + 1 < text.size()) {
      const char e = text[++i];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'a': out += '\a'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'v': out += '\v'; break;
        case 'x': {
          std::uint32_t code = 0;
          int digits = 0;
          while (i + 1 < text.size() && digits < 4 && HexValue(text[i + 1]) >= 0) {
            code = code * 16 + static_cast<std::uint32_t>(HexValue(text[++i]));
            ++digits;
          }
          AppendUtf8(out, code);
          break;
        }
        case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
          std::uint32_t code = static_cast<std::uint32_t>(e - '0');
          int digits = 1;
          while (i + 1 < text.size() && digits < 3 && text[i + 1] >= '0' && text[i + 1] <= '7') {
            code = code * 8 + static_cast<std::uint32_t>(text[++i] - '0');
            ++digits;
          }
          AppendUtf8(out, code);
          break;
        }
        default: out += e;  // \\, \", \' and unknown escapes stand for the character
      }
    } else {
      out += c;
    }
  }
  if (out.rfind("@@", 0) == 0) return out.substr(1);
  if (out.rfind("@ByteArray(", 0) == 0 && out.back() == ')') return out.substr(11, out.size() - 12);
  if (out.rfind("@", 0) == 0) return std::nullopt;
  return out;
}

// The 32-bit form of a whole decimal number (or a 0x-prefixed hexadecimal one, as
// hand-entered registry values often are), signed or unsigned.
std::optional<std::int32_t> IntegerValue(const std::string& stored) {
  const std::string text = Trim(stored);
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

// The file as lines. A line is a section header, an entry of the section above it, or
// something else that is carried along untouched.
class IniFile {
 public:
  explicit IniFile(std::string path) : m_path(std::move(path)) {}

  // False when the file exists but cannot be read; a missing file is an empty profile.
  bool Load() {
    m_lines.clear();
    const int fd = open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR;
    // Anything but a regular file (a FIFO above all) is no profile we can read.
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      close(fd);
      return false;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        close(fd);
        return false;
      }
      if (n == 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    std::size_t begin = 0;
    while (begin < text.size()) {
      std::size_t end = text.find('\n', begin);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(begin, end - begin);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      m_lines.push_back(std::move(line));
      begin = end + 1;
    }
    return true;
  }

  // The raw value text of the last entry of that name in that section.
  std::optional<std::string> Find(const std::string& section, const std::string& entry) const {
    const std::optional<std::size_t> at = FindLine(section, entry);
    if (!at) return std::nullopt;
    const std::string& line = m_lines[*at];
    return line.substr(line.find('=') + 1);
  }

  void Set(const std::string& section, const std::string& entry, const std::string& value) {
    const std::string line = EscapeName(entry) + "=" + EscapeValue(value);
    if (const std::optional<std::size_t> at = FindLine(section, entry)) {
      m_lines[*at] = line;
      return;
    }
    // After the last entry of the section's last block, or in a new section at the end.
    std::optional<std::size_t> insertAt;
    std::optional<std::string> current;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
      if (std::optional<std::string> header = SectionOf(m_lines[i])) {
        current = header;
        if (*current == section) insertAt = i + 1;
      } else if (current && *current == section && EntryOf(m_lines[i])) {
        insertAt = i + 1;
      }
    }
    if (insertAt) {
      m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(*insertAt), line);
      return;
    }
    if (!m_lines.empty() && !Trim(m_lines.back()).empty()) m_lines.emplace_back();
    // Built by appending: GCC 12 at -O3 sees a false overlap in "[" + std::string.
    std::string header = "[";
    header += EscapeName(section);
    header += ']';
    m_lines.push_back(std::move(header));
    m_lines.push_back(line);
  }

  // True when there was something to remove.
  bool RemoveSection(const std::string& section) {
    std::vector<std::string> kept;
    bool inside = false;
    bool removed = false;
    for (std::string& line : m_lines) {
      if (std::optional<std::string> header = SectionOf(line)) inside = *header == section;
      if (inside) {
        removed = true;
      } else {
        kept.push_back(std::move(line));
      }
    }
    m_lines = std::move(kept);
    return removed;
  }

  // The whole file, through a temporary file and a rename; true only when it is on the
  // disk.
  bool Save() const {
    std::string text;
    for (const std::string& line : m_lines) text += line + "\n";
    const std::string folder = m_path.substr(0, m_path.rfind('/'));
    if (!MakeFolders(folder)) return false;

    // A profile reached through a link is replaced where it really lives.
    std::string target = m_path;
    if (char* real = realpath(m_path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
    mode_t mode = 0644;
    struct stat existing {};
    if (stat(target.c_str(), &existing) == 0) mode = existing.st_mode & 07777;

    std::string temp = target + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
      const ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;
      else done += static_cast<std::size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
      unlink(temp.c_str());
      return false;
    }
    // The rename itself lives in the folder's entry.
    const std::string targetFolder = target.substr(0, target.rfind('/'));
    const int dirFd = open(targetFolder.empty() ? "/" : targetFolder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
      fsync(dirFd);
      close(dirFd);
    }
    return true;
  }

 private:
  static std::optional<std::string> SectionOf(const std::string& line) {
    const std::string text = Trim(line);
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') return std::nullopt;
    return UnescapeName(Trim(text.substr(1, text.size() - 2)));
  }

  static std::optional<std::string> EntryOf(const std::string& line) {
    const std::string text = Trim(line);
    if (text.empty() || text.front() == ';' || text.front() == '#' || text.front() == '[') return std::nullopt;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return std::nullopt;
    return UnescapeName(Trim(line.substr(0, equals)));
  }

  std::optional<std::size_t> FindLine(const std::string& section, const std::string& entry) const {
    std::optional<std::size_t> found;
    std::optional<std::string> current;  // none before the first section
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
      if (std::optional<std::string> header = SectionOf(m_lines[i])) {
        current = header;
      } else if (current && *current == section) {
        if (std::optional<std::string> name = EntryOf(m_lines[i]); name && *name == entry) found = i;
      }
    }
    return found;
  }

  static bool MakeFolders(const std::string& folder) {
    if (folder.empty()) return true;
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    const std::size_t slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
  }

  std::string m_path;
  std::vector<std::string> m_lines;
};

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config";
}

bool StoreText(const std::string& location, const std::string& section, const std::string& entry,
               const std::string& text) {
  const std::lock_guard<std::mutex> lock(g_writeLock);
  IniFile file(location);
  // A file that exists but cannot be read is not replaced by one holding this value alone.
  if (!file.Load()) return false;
  file.Set(section, entry, text);
  return file.Save();
}

}  // namespace

std::int32_t ProfileStore::ReadProfileInt(const std::string& section, const std::string& entry,
                                         std::int32_t nDefault) const {
  IniFile file(Location());
  if (!file.Load()) return nDefault;
  const std::optional<std::string> raw = file.Find(section, entry);
  if (!raw) return nDefault;
  const std::optional<std::string> text = UnescapeValue(*raw);
  if (!text) return nDefault;
  return IntegerValue(*text).value_or(nDefault);
}

std::string ProfileStore::ReadProfileString(const std::string& section, const std::string& entry,
                                           const std::string& strDefault) const {
  IniFile file(Location());
  if (!file.Load()) return strDefault;
  const std::optional<std::string> raw = file.Find(section, entry);
  if (!raw) return strDefault;
  return UnescapeValue(*raw).value_or(strDefault);
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
  const std::lock_guard<std::mutex> lock(g_writeLock);
  IniFile file(Location());
  if (!file.Load()) return false;
  if (!file.RemoveSection(section)) return true;
  return file.Save();
}

std::string ProfileStore::Location() const {
  return ConfigHome() + "/" + m_strCompany + "/" + m_strApplication + ".conf";
}
