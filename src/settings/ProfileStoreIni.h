// The text of the profile file on Linux: the INI layout that the desktop toolkit's
// settings class reads and writes (it wrote the profiles of earlier releases), read by the
// same rules, so that every file it reads gives the same values here:
//   [Recent%20Backgrounds]
//   File1=/home/me/DarkRivets.bmp
// - A UTF-8 byte order mark at the start is skipped.
// - A ';' outside double quotes starts a note that runs to the end of the line; a line
//   without '=' that is no section header is ignored.
// - Section and value names are percent-encoded (%XX for a character up to U+00FF,
//   %UXXXX beyond), '\' stands for '/'. "[General]" holds the values outside any section,
//   and "[%General]" is the section named "General".
// - A value may be quoted and uses C escapes; \x and octal escapes take every digit that
//   follows and give one UTF-16 code unit. Blanks around an unquoted value are dropped.
// - "@@" at the start stands for "@"; "@String(...)" and "@ByteArray(...)" hold their
//   text; other "@Type(...)" forms hold no text.
// One difference on purpose: a comma outside quotes is part of the text, where the
// toolkit would make a list of the pieces.
//
// The text is kept as records, byte for byte with their line ends, so a change touches
// only the line of the value changed; notes and lines this store does not understand stay.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class IniText {
 public:
  explicit IniText(std::string_view text);

  // The raw value text (still escaped) of the last entry of that name in the section,
  // wherever the section's lines are.
  std::optional<std::string> Find(const std::string& section, const std::string& entry) const;
  // Stores text (not escaped yet): over the last entry of that name, else after the last
  // line of the section's last block, else in a new section at the end.
  void Set(const std::string& section, const std::string& entry, const std::string& text);
  // Removes every block of the section with all its lines; true when there was one.
  bool RemoveSection(const std::string& section);

  std::string Text() const;

 private:
  enum class Kind { Other, Section, Entry };
  struct Record {
    std::string raw;      // as in the file, line end included
    Kind kind;
    std::string section;  // the section the line belongs to ("" before the first header)
    std::string name;     // the entry's name (Entry)
    std::string value;    // the entry's raw value text (Entry)
  };
  std::optional<std::size_t> FindRecord(const std::string& section, const std::string& entry) const;

  std::vector<Record> m_records;
};

// The text a raw value holds, or nothing when it holds a value of another type.
std::optional<std::string> DecodeIniValue(std::string_view raw);
// The raw form of a text: escaped, quoted where needed, "@ByteArray(...)" for bytes that
// are not UTF-8, so that it reads back exactly, here and in the toolkit.
std::string EncodeIniValue(const std::string& text);
std::string DecodeIniName(std::string_view raw);
std::string EncodeIniName(const std::string& name);
// The 32-bit form of a whole decimal number (or a 0x-prefixed hexadecimal one, as
// hand-entered registry values often are), signed or unsigned.
std::optional<std::int32_t> IniIntegerValue(const std::string& text);
