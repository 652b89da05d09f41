// quillmark-send: presses panel keys from the command line, for scripts and checks.
//   quillmark-send [OPTION]... KEY...       keys as arguments; "-" reads keys from stdin
//   quillmark-send -l|--list
// Options: -d/--device N|NAME, -i/--id N, -p/--print, -l/--list, -h/--help,
// -V/--version; long ones also as --name=value, short ones also as -xVALUE; "--" ends
// the options. Keys are matched without regard to case.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

class MidiServices;

inline constexpr int kSendExitOk = 0;
inline constexpr int kSendExitFailed = 1;
inline constexpr int kSendExitUsage = 2;

// What the command runs on; each one left empty is the real thing: the platform's device
// services, the stored "MIDI Output Device", "MIDI Output Device Name" and
// "TargetDeviceID", standard input.
struct SendEnvironment {
  MidiServices* services = nullptr;
  std::function<std::int32_t()> storedDevice;
  std::function<std::string()> storedDeviceName;  // used with storedDevice; none: no name
  std::function<std::int32_t()> storedDeviceId;
  std::istream* input = nullptr;
  // How long a key may take from the send to the device's completion.
  std::chrono::milliseconds completionBound{5000};
};

// Runs the command with its arguments (without the program name). Messages for the user
// go to err; --print, --list, --help and --version output goes to out. Exit status: 0; 1
// when a send failed or out could not be written; 2 for a usage error, in which case
// nothing was sent.
int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const SendEnvironment& environment);

// The output device that --device names: a number (below the device count, or -1 for the
// virtual port), else the exact name, else the one name containing it without regard to
// case. False with a message for the user when none or several match.
bool ChooseOutputDevice(const std::vector<std::string>& names, const std::string& spec,
                        std::int32_t& device, std::string& error);

// The key name closest to a mistyped one (at most two letters inserted, removed, changed
// or swapped, and closer than any other key), or empty when there is none.
std::string_view SuggestKeyName(std::string_view typed);
