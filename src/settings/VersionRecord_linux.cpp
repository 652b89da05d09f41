// The version record on Linux: built into the program from the project version at build
// time, since an ELF executable carries no version resource.
#include "settings/VersionRecord.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <vector>

#include "settings/BuildConfig.h"

namespace {

constexpr std::uint32_t HighWord(unsigned major, unsigned minor) { return (major << 16) | minor; }

constexpr VersionFixedInfo kFixedInfo = {
    0xFEEF04BD,  // signature of a fixed part
    0x00010000,  // structure version 1.0
    HighWord(kVersionMajor, kVersionMinor),
    HighWord(kVersionPatch, kVersionTweak),
    HighWord(kVersionMajor, kVersionMinor),
    HighWord(kVersionPatch, kVersionTweak),
    0x3F,        // all defined flags are meaningful
    0,           // a release build: no debug, prerelease, patched or private flag
    0x00040004,  // VOS_NT_WINDOWS32
    0x1,         // VFT_APP
    0,
    0,
    0,
};

// Language 0x0409 (U.S. English) in the low word, code page 0x04B0 (Unicode) in the high.
constexpr std::array<std::uint32_t, 1> kTranslation = {0x04B00409};

struct StringEntry {
  const char* name;
  const char* value;
};

constexpr StringEntry kStrings[] = {
#include "settings/VersionStrings.inc"
};

constexpr std::string_view kStringTablePrefix = "\\StringFileInfo\\040904b0\\";

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

const VersionRecord g_ownRecord;
std::atomic<bool> g_hidden{false};

}  // namespace

bool VersionRecord::QueryValue(std::string_view block, const void** value, unsigned* length) const {
  if (block == "\\") {
    *value = &kFixedInfo;
    *length = sizeof kFixedInfo;
    return true;
  }
  if (SameName(block, "\\VarFileInfo\\Translation")) {
    *value = kTranslation.data();
    *length = sizeof kTranslation;
    return true;
  }
  if (block.size() > kStringTablePrefix.size() &&
      SameName(block.substr(0, kStringTablePrefix.size()), kStringTablePrefix)) {
    const std::string_view name = block.substr(kStringTablePrefix.size());
    for (const StringEntry& entry : kStrings) {
      if (SameName(name, entry.name)) {
        *value = entry.value;
        *length = static_cast<unsigned>(std::string_view(entry.value).size() + 1);
        return true;
      }
    }
  }
  return false;
}

const VersionRecord* OwnVersionRecord() {
  return g_hidden.load(std::memory_order_acquire) ? nullptr : &g_ownRecord;
}

bool HideOwnVersionRecord(bool bHide) {
  return g_hidden.exchange(bHide, std::memory_order_acq_rel);
}

std::string OwnExecutablePath() {
  // The kernel's link to the running image: the real file behind any symbolic link the
  // program was started through, as the platform's module path gives it. A path longer
  // than the buffer is retried with a larger one; the link never changes under us.
  std::vector<char> buffer(4096);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    buffer.resize(buffer.size() * 4);
  }
  return {};
}
