// How far keys got on their way out: one relaxed counter per stage, from the key event
// the panel was given to the buffer the device handed back. A key that vanishes shows as
// the first stage whose count falls short of the one before. Always on: an increment is
// all they cost. Tests read them in-process; a test that runs the program itself names a
// file in QUILLMARK_KEY_PATH_COUNTS and reads them there after the program ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct KeyPathCounters {
  // The panel (user-interface thread).
  std::atomic<std::uint64_t> keyEvents{0};     // key presses for the panel or its controls
  std::atomic<std::uint64_t> keyboardKeys{0};  // ... that the key routine took as panel keys
  std::atomic<std::uint64_t> commandKeys{0};   // key buttons pressed (click, space, mnemonic)
  // The transmit port (user-interface thread).
  std::atomic<std::uint64_t> sends{0};          // messages given to Send
  std::atomic<std::uint64_t> sendsAccepted{0};  // ... whose every byte the engine took
  std::atomic<std::uint64_t> sendsWaited{0};    // ... after waiting for a buffer to come back
  std::atomic<std::uint64_t> sendsReported{0};  // ... that failed, told with a box or a beep
  // The engine: buffers posted to the user-interface thread, handed to the device
  // (accepted or refused by it) and handed back by it (well or with an error).
  std::atomic<std::uint64_t> buffersPosted{0};
  std::atomic<std::uint64_t> buffersHanded{0};
  std::atomic<std::uint64_t> buffersRefused{0};
  std::atomic<std::uint64_t> buffersDone{0};
  std::atomic<std::uint64_t> buffersFailed{0};
};

KeyPathCounters& TheKeyPathCounters();

inline void CountKeyPath(std::atomic<std::uint64_t>& counter) {
  counter.fetch_add(1, std::memory_order_relaxed);
}

// "name value" lines, one per counter, in the order above.
std::string KeyPathCountersText();
// Writes KeyPathCountersText to the file named by QUILLMARK_KEY_PATH_COUNTS, if it names
// one; false only when a named file could not be written.
bool WriteKeyPathCountersIfAsked();
