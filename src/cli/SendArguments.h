// quillmark-send's command line and key names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct KeyRow;

struct SendOptions {
  bool print = false;
  bool list = false;
  bool help = false;
  bool version = false;
  bool idGiven = false;
  int deviceId = 0;
  bool deviceGiven = false;
  std::string deviceSpec;
  // In command-line order; null stands for the keys of standard input.
  std::vector<const KeyRow*> keys;
};

// False with a line for the user (a usage error) when an option, a value or a key is
// wrong, or the options do not go together.
bool ParseArguments(const std::vector<std::string>& args, SendOptions& options, std::string& error);

// The key of that name in any case, or null.
const KeyRow* FindKeyIgnoringCase(std::string_view name);

// "unknown key '<name>'" with a suggestion or where to find the keys.
std::string UnknownKeyText(std::string_view name);
