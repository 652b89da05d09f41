// quillmark-send: presses panel keys from the command line, for scripts and checks.
//   quillmark-send [--id N] [--print] KEY...
#pragma once

#include <ostream>
#include <string>
#include <vector>

inline constexpr int kSendExitOk = 0;
inline constexpr int kSendExitFailed = 1;
inline constexpr int kSendExitUsage = 2;

// Runs the command with its arguments (without the program name). Messages for the user
// go to err; --print output goes to out.
int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
