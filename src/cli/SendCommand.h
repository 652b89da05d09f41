// quillmark-send: presses panel keys from the command line, for scripts and checks.
//   quillmark-send [OPTION]... KEY...       keys as arguments; "-" reads keys from stdin
//   quillmark-send -l|--list
// Options: -d/--device N|NAME, -i/--id N, -p/--print, -l/--list, -h/--help,
// -V/--version; long ones also as --name=value, short ones also as -xVALUE; "--" ends
// the options. Keys are matched without regard to case.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

class MidiServices;

// Exit status: one class each.
inline constexpr int kSendExitOk = 0;
// The run could not send: the output is not there or failed, or standard input or
// output could not be read or written.
inline constexpr int kSendExitFailed = 1;
// The command line or a key was wrong: an unknown option or key, a bad value, a device
// name that matches several outputs. Keys of earlier input lines may have been sent.
inline constexpr int kSendExitUsage = 2;

// Where the keys of "-" come from, as the bytes arrive.
class KeyInput {
 public:
  KeyInput() = default;
  KeyInput(const KeyInput&) = delete;
  KeyInput& operator=(const KeyInput&) = delete;
  virtual ~KeyInput() = default;
  // Waits for at least one byte and returns how many it put into buffer (at most size);
  // 0 at the end of the input; -1 when reading failed, with the system's text in error.
  virtual long Read(char* buffer, std::size_t size, std::string& error) = 0;
};

// The process's standard input (one implementation per platform).
std::unique_ptr<KeyInput> OpenStandardInput();

// What the command runs on; each one left empty is the real thing: the platform's device
// services, the stored "MIDI Output Device", "MIDI Output Device Name" and
// "TargetDeviceID", standard input.
struct SendEnvironment {
  MidiServices* services = nullptr;
  std::function<std::int32_t()> storedDevice;
  std::function<std::string()> storedDeviceName;  // used with storedDevice; none: no name
  std::function<std::int32_t()> storedDeviceId;
  KeyInput* input = nullptr;
  // How long a key may take from the send to the device's completion.
  std::chrono::milliseconds completionBound{5000};
};

// Runs the command with its arguments (without the program name). Messages for the user
// go to err, one line each; --print, --list, --help and --version output goes to out.
// Keys given as arguments are all checked before the first is sent; the keys of "-" are
// sent line by line as the lines arrive, each line checked before its first key.
int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const SendEnvironment& environment);

// The key name closest to a mistyped one (at most two letters inserted, removed, changed
// or swapped, and closer than any other key), or empty when there is none.
std::string_view SuggestKeyName(std::string_view typed);
