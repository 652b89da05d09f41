#include "midi/backends/alsa/AlsaApi.h"

#include <array>
#include <cstddef>
#include <mutex>

#include "midi/backends/SharedLibrary.h"

namespace alsabackend {

namespace {

constexpr const char* kNames[] = {
#define QUILLMARK_ALSA_NAME(name) #name,
    QUILLMARK_ALSA_FUNCTIONS(QUILLMARK_ALSA_NAME)
#undef QUILLMARK_ALSA_NAME
};

}  // namespace

bool LoadAlsaApiFrom(const char* library) {
  std::array<void*, std::size(kNames)> found{};
  if (!OpenLibraryFunctions(library, kNames, found)) return false;
  std::size_t i = 0;
#define QUILLMARK_ALSA_SET(name) name = reinterpret_cast<decltype(name)>(found[i++]);
  QUILLMARK_ALSA_FUNCTIONS(QUILLMARK_ALSA_SET)
#undef QUILLMARK_ALSA_SET
  return true;
}

bool LoadAlsaApi() {
  // The pointers are written once, here; call_once orders that before every later call's
  // reads, in whichever thread.
  static std::once_flag once;
  static bool loaded = false;
  std::call_once(once, [] { loaded = LoadAlsaApiFrom(kAlsaLibrary); });
  return loaded;
}

}  // namespace alsabackend
