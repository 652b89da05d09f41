#include "cli/SendArguments.h"

#include <algorithm>
#include <charconv>

#include "cli/SendCommand.h"
#include "remote/KeyTable.h"

namespace {

constexpr const char* kSeeHelp = "; see quillmark-send --help";

char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), LowerChar);
  return lower;
}

// Letters inserted, removed, changed or swapped with a neighbour to turn a into b.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

enum class OptionId { Device, Id, Print, List, Help, Version };

struct OptionSpec {
  char shortName;
  std::string_view longName;
  bool takesValue;
  OptionId id;
  const char* missingValue;
};

constexpr OptionSpec kOptions[] = {
    {'d', "device", true, OptionId::Device, "needs an output number or name; see quillmark-send --list"},
    {'i', "id", true, OptionId::Id, "needs the unit's device ID, a number from 0 to 127"},
    {'p', "print", false, OptionId::Print, ""},
    {'l', "list", false, OptionId::List, ""},
    {'h', "help", false, OptionId::Help, ""},
    {'V', "version", false, OptionId::Version, ""},
};

const OptionSpec* FindOption(char shortName, std::string_view longName) {
  for (const OptionSpec& option : kOptions) {
    if (shortName ? option.shortName == shortName : option.longName == longName) return &option;
  }
  return nullptr;
}

bool ParseDeviceId(const std::string& text, int& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= 0 && value <= 127;
}

bool ApplyOption(const OptionSpec& option, const std::string& shown, const std::string& value,
                 SendOptions& options, std::string& error) {
  switch (option.id) {
    case OptionId::Device:
      if (value.empty()) {
        error = shown + " " + option.missingValue;
        return false;
      }
      options.deviceGiven = true;
      options.deviceSpec = value;
      return true;
    case OptionId::Id:
      if (!ParseDeviceId(value, options.deviceId)) {
        error = "device ID '" + value + "' is not a number from 0 to 127; give the unit's ID with " + shown;
        return false;
      }
      options.idGiven = true;
      return true;
    case OptionId::Print: options.print = true; return true;
    case OptionId::List: options.list = true; return true;
    case OptionId::Help: options.help = true; return true;
    case OptionId::Version: options.version = true; return true;
  }
  return false;
}

bool ParseLongOption(const std::vector<std::string>& args, std::size_t& i, SendOptions& options,
                     std::string& error) {
  const std::string& arg = args[i];
  const std::size_t equals = arg.find('=');
  const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
  const OptionSpec* option = FindOption(0, name);
  if (!option) {
    error = "unknown option '--" + name + "'" + kSeeHelp;
    return false;
  }
  const std::string shown = "--" + name;
  std::string value;
  if (equals != std::string::npos) {
    if (!option->takesValue) {
      error = shown + " takes no value" + kSeeHelp;
      return false;
    }
    value = arg.substr(equals + 1);
  } else if (option->takesValue) {
    if (i + 1 == args.size()) {
      error = shown + " " + option->missingValue;
      return false;
    }
    value = args[++i];
  }
  return ApplyOption(*option, shown, value, options, error);
}

// A cluster of short options; one that takes a value takes the rest of the argument, or
// the next argument.
bool ParseShortOptions(const std::vector<std::string>& args, std::size_t& i, SendOptions& options,
                       std::string& error) {
  const std::string& arg = args[i];
  for (std::size_t at = 1; at < arg.size(); ++at) {
    const OptionSpec* option = FindOption(arg[at], {});
    const std::string shown = std::string("-") + arg[at];
    if (!option) {
      error = "unknown option '" + shown + "'" + kSeeHelp;
      return false;
    }
    std::string value;
    if (option->takesValue) {
      if (at + 1 < arg.size()) {
        value = arg.substr(at + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        error = shown + " " + option->missingValue;
        return false;
      }
      at = arg.size();
    }
    if (!ApplyOption(*option, shown, value, options, error)) return false;
  }
  return true;
}

}  // namespace

const KeyRow* FindKeyIgnoringCase(std::string_view name) {
  const std::string wanted = Lower(name);
  for (const KeyRow& row : kKeyTable) {
    if (Lower(row.name) == wanted) return &row;
  }
  return nullptr;
}

std::string_view SuggestKeyName(std::string_view typed) {
  const std::string wanted = Lower(typed);
  std::string_view best;
  std::size_t bestDistance = 3;
  bool unique = false;
  for (const KeyRow& row : kKeyTable) {
    const std::size_t distance = EditDistance(wanted, Lower(row.name));
    if (distance < bestDistance) {
      best = row.name;
      bestDistance = distance;
      unique = true;
    } else if (distance == bestDistance) {
      unique = false;
    }
  }
  // A distance as long as the word itself is a different word, not a typing slip.
  return unique && bestDistance < wanted.size() ? best : std::string_view();
}

std::string UnknownKeyText(std::string_view name) {
  std::string text = "unknown key '" + std::string(name) + "'";
  const std::string_view suggestion = SuggestKeyName(name);
  if (!suggestion.empty()) return text + " (did you mean '" + std::string(suggestion) + "'?)";
  return text + "; the keys are listed by quillmark-send --help";
}

bool ParseArguments(const std::vector<std::string>& args, SendOptions& options, std::string& error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    bool parsed = true;
    if (!isOption) {
      const KeyRow* row = arg == "-" ? nullptr : FindKeyIgnoringCase(arg);
      if (arg != "-" && !row) {
        error = UnknownKeyText(arg);
        return false;
      }
      options.keys.push_back(row);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg[1] == '-') {
      parsed = ParseLongOption(args, i, options, error);
    } else {
      parsed = ParseShortOptions(args, i, options, error);
    }
    if (!parsed) return false;
  }
  if (options.help || options.version) return true;
  if (options.list && !options.keys.empty()) {
    error = "--list takes no keys; run it on its own, then send the keys";
    return false;
  }
  if (!options.list && options.keys.empty()) {
    error = "no key given; name the keys, or - to read them from standard input" + std::string(kSeeHelp);
    return false;
  }
  return true;
}
