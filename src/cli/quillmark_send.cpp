#include <iostream>

#include "cli/SendCommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunSendCommand(args, std::cout, std::cerr);
}
