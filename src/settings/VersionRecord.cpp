#include "settings/VersionRecord.h"

#include <cstdio>

std::string ProductVersionText(const VersionFixedInfo& fixed) {
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(fixed.dwProductVersionMS >> 16),
                static_cast<int>(fixed.dwProductVersionMS & 0xFFFF),
                static_cast<int>(fixed.dwProductVersionLS >> 16),
                static_cast<int>(fixed.dwProductVersionLS & 0xFFFF));
  return text;
}

std::string OwnProductVersion() {
  const VersionRecord* record = OwnVersionRecord();
  const void* block = nullptr;
  unsigned length = 0;
  if (!record || !record->QueryValue("\\", &block, &length) || length < sizeof(VersionFixedInfo)) {
    return {};
  }
  return ProductVersionText(*static_cast<const VersionFixedInfo*>(block));
}
