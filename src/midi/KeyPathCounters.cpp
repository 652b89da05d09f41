#include "midi/KeyPathCounters.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

KeyPathCounters& TheKeyPathCounters() {
  static KeyPathCounters counters;
  return counters;
}

std::string KeyPathCountersText() {
  const KeyPathCounters& c = TheKeyPathCounters();
  const std::pair<const char*, const std::atomic<std::uint64_t>*> rows[] = {
      {"keyEvents", &c.keyEvents},           {"keyboardKeys", &c.keyboardKeys},
      {"commandKeys", &c.commandKeys},       {"sends", &c.sends},
      {"sendsAccepted", &c.sendsAccepted},   {"sendsWaited", &c.sendsWaited},
      {"sendsReported", &c.sendsReported},
      {"buffersPosted", &c.buffersPosted},   {"buffersHanded", &c.buffersHanded},
      {"buffersRefused", &c.buffersRefused}, {"buffersDone", &c.buffersDone},
      {"buffersFailed", &c.buffersFailed}};
  std::string text;
  for (const auto& [name, counter] : rows) {
    text += name;
    text += ' ';
    text += std::to_string(counter->load(std::memory_order_relaxed));
    text += '\n';
  }
  return text;
}

bool WriteKeyPathCountersIfAsked() {
  const char* path = std::getenv("QUILLMARK_KEY_PATH_COUNTS");
  if (!path || !*path) return true;
  std::FILE* file = std::fopen(path, "w");
  if (!file) return false;
  const std::string text = KeyPathCountersText();
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}
