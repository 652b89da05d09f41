#include "ui/PrefsRules.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

#include "settings/DataFiles.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsSpace(char c) { return IsBlank(c) || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trimmed(std::string_view text, bool (*space)(char)) {
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

// Our strings are UTF-8; the file system's narrow paths on Windows are not.
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

std::string IntegerBetweenText(int nMin, int nMax) {
  return "Please enter an integer between " + std::to_string(nMin) + " and " + std::to_string(nMax) + ".";
}

bool ReadByte(std::string_view text, std::uint8_t& value) {
  text = Trimmed(text, IsBlank);
  if (text.empty()) return false;
  unsigned number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<unsigned>(c - '0');
    if (number > 255) return false;
  }
  value = static_cast<std::uint8_t>(number);
  return true;
}

long long DialogItemInt(std::string_view text) {
  text = Trimmed(text, IsSpace);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return 0;
  long long number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
    if (number > static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1) return 0;
  }
  if (negative) number = -number;
  if (number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::int32_t>::max()) {
    return 0;
  }
  return number;
}

bool IsUsableBackground(const std::string& path) {
  if (path.empty() || path.find_first_of("?*") != std::string::npos) return false;
  std::error_code error;
  return std::filesystem::is_regular_file(PathOf(FindDataFile(path)), error);
}

std::string BrowseDirectory(const std::string& path) {
#if defined(_WIN32)
  const std::size_t separator = path.find_last_of("\\/");
#else
  const std::size_t separator = path.find_last_of('/');
#endif
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::vector<OutputItem> ListOutputs(std::vector<std::string> labels, const std::vector<OutputChoice>& keep,
                                    const std::string& virtualLabel) {
  if (labels.size() > kMaxListedDevices) labels.resize(kMaxListedDevices);
  std::vector<OutputItem> items;
  if (labels.empty()) items.push_back({kNoOutputsItem, OutputItemKind::None, {0, {}}});
  for (std::size_t i = 0; i < labels.size(); ++i) {
    items.push_back({labels[i], OutputItemKind::Device, {static_cast<std::int32_t>(i), labels[i]}});
  }
  std::vector<std::string> missing;
  for (const OutputChoice& choice : keep) {
    if (choice.name.empty() || std::find(labels.begin(), labels.end(), choice.name) != labels.end() ||
        std::find(missing.begin(), missing.end(), choice.name) != missing.end()) {
      continue;
    }
    missing.push_back(choice.name);
    items.push_back({choice.name + kNotConnectedSuffix, OutputItemKind::NotConnected, choice});
  }
  if (!virtualLabel.empty()) items.push_back({virtualLabel, OutputItemKind::VirtualPort, {-1, {}}});
  return items;
}

int OutputItemFor(const std::vector<OutputItem>& items, const OutputChoice& choice) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    const OutputItem& item = items[i];
    bool shows = false;
    if (!choice.name.empty()) {
      shows = item.kind != OutputItemKind::None && item.choice.name == choice.name;
    } else if (choice.device == -1) {
      shows = item.kind == OutputItemKind::VirtualPort;
    } else {
      shows = item.kind == OutputItemKind::None ||
              (item.kind == OutputItemKind::Device && item.choice.device == choice.device);
    }
    if (shows) return static_cast<int>(i);
  }
  return -1;
}

bool ChoiceOfItem(const std::vector<OutputItem>& items, int index, OutputChoice& choice) {
  if (index < 0 || static_cast<std::size_t>(index) >= items.size()) return false;
  const OutputItem& item = items[static_cast<std::size_t>(index)];
  if (item.kind == OutputItemKind::None) return false;
  choice = item.choice;
  return true;
}
