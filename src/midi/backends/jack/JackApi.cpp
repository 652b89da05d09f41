#include "midi/backends/jack/JackApi.h"

#include <array>
#include <cstddef>
#include <mutex>

#include "midi/backends/SharedLibrary.h"

namespace jackbackend {

namespace {

constexpr const char* kNames[] = {
#define QUILLMARK_JACK_NAME(name) #name,
    QUILLMARK_JACK_FUNCTIONS(QUILLMARK_JACK_NAME)
#undef QUILLMARK_JACK_NAME
};

}  // namespace

bool LoadJackApiFrom(const char* library) {
  std::array<void*, std::size(kNames)> found{};
  if (!OpenLibraryFunctions(library, kNames, found)) return false;
  std::size_t i = 0;
#define QUILLMARK_JACK_SET(name) name = reinterpret_cast<decltype(name)>(found[i++]);
  QUILLMARK_JACK_FUNCTIONS(QUILLMARK_JACK_SET)
#undef QUILLMARK_JACK_SET
  return true;
}

bool LoadJackApi() {
  // The pointers are written once, here; call_once orders that before every later call's
  // reads, in whichever thread.
  static std::once_flag once;
  static bool loaded = false;
  std::call_once(once, [] { loaded = LoadJackApiFrom(kJackLibrary); });
  return loaded;
}

}  // namespace jackbackend
