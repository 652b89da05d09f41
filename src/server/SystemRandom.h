// Bytes from the operating system's cryptographic generator. One implementation per
// platform.
#pragma once

#include <cstddef>

// Fills all `count` bytes; false when the system could not give them (nothing usable
// is left in `out` then).
bool FillSystemRandom(unsigned char* out, std::size_t count);
