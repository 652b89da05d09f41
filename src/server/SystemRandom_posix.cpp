#include "server/SystemRandom.h"

#include <sys/random.h>

#include <cerrno>

bool FillSystemRandom(unsigned char* out, std::size_t count) {
  std::size_t filled = 0;
  // getrandom blocks only until the kernel's pool was first seeded; a signal may cut a
  // request short, so a bounded number of rounds finishes it.
  for (int round = 0; filled < count && round < 64; ++round) {
    const ssize_t got = getrandom(out + filled, count - filled, 0);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (got < 0 && errno != EINTR) {
      return false;
    }
  }
  return filled == count;
}
