// quillmark-send: presses panel keys from the command line, for scripts and checks.
//   quillmark-send [--id N] [--device N|NAME] [--print] KEY...
//   quillmark-send --list
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

class MidiServices;

inline constexpr int kSendExitOk = 0;
inline constexpr int kSendExitFailed = 1;
inline constexpr int kSendExitUsage = 2;

// What the command runs on; the defaults are the platform's device services and the
// stored "MIDI Output Device" and "MIDI Output Device Name".
struct SendEnvironment {
  MidiServices* services = nullptr;
  std::function<std::int32_t()> storedDevice;
  std::function<std::string()> storedDeviceName;  // used with storedDevice; none: no name
  // How long a key may take from the send to the device's completion.
  std::chrono::milliseconds completionBound{5000};
};

// Runs the command with its arguments (without the program name). Messages for the user
// go to err; --print and --list output goes to out. Exit status: 0, 1 when a send
// failed, 2 for a usage error.
int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const SendEnvironment& environment);

// The output device that --device names: a number (below the device count, or -1 for the
// virtual port), else the exact name, else the one name containing it without regard to
// case. False with a message for the user when none or several match.
bool ChooseOutputDevice(const std::vector<std::string>& names, const std::string& spec,
                        std::int32_t& device, std::string& error);
