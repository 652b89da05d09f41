// Standard input on POSIX systems: file descriptor 0, read as the bytes come.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/SendCommand.h"

namespace {

class StandardInput final : public KeyInput {
 public:
  long Read(char* buffer, std::size_t size, std::string& error) override {
    for (;;) {
      const ssize_t count = read(STDIN_FILENO, buffer, size);
      if (count >= 0) return static_cast<long>(count);
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      return -1;
    }
  }
};

}  // namespace

std::unique_ptr<KeyInput> OpenStandardInput() { return std::make_unique<StandardInput>(); }
