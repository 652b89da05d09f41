#include "midi/backends/SharedLibrary.h"

#include <dlfcn.h>

#include <algorithm>

bool OpenLibraryFunctions(const char* library, std::span<const char* const> names, std::span<void*> found) {
  std::fill(found.begin(), found.end(), nullptr);
  if (names.size() != found.size()) return false;
  // Owned by the process, never dlclose'd (see the header); one that fails the lookups
  // stays open too, unused.
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    found[i] = dlsym(handle, names[i]);
    if (!found[i]) {
      std::fill(found.begin(), found.end(), nullptr);
      return false;
    }
  }
  return true;
}
