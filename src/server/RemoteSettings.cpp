#include "server/RemoteSettings.h"

#include <charconv>

#include "server/AccessToken.h"
#include "settings/ProfileStore.h"

namespace {

std::uint16_t ReadPort(const ProfileStore& store, const char* entry, std::uint16_t fallback) {
  const std::int32_t stored = store.ReadProfileInt(kRemoteSection, entry, fallback);
  return stored >= 1 && stored <= 65535 ? static_cast<std::uint16_t>(stored) : fallback;
}

}  // namespace

RemoteSettings ReadRemoteSettings(const ProfileStore& store) {
  RemoteSettings settings;
  settings.pageEnabled = store.ReadProfileInt(kRemoteSection, "Page", 0) != 0;
  settings.pagePort = ReadPort(store, "Page Port", kDefaultPagePort);
  settings.token = store.ReadProfileString(kRemoteSection, "Token", "");
  if (!IsWellFormedToken(settings.token)) settings.token.clear();
  settings.oscEnabled = store.ReadProfileInt(kRemoteSection, "OSC", 0) != 0;
  settings.oscPort = ReadPort(store, "OSC Port", kDefaultOscPort);
  settings.oscAllowedHosts =
      store.ReadProfileString(kRemoteSection, "OSC Allowed Hosts", kDefaultOscAllowedHosts);
  return settings;
}

bool WriteRemoteSettings(ProfileStore& store, const RemoteSettings& settings) {
  bool written = store.StoreProfileInt(kRemoteSection, "Page", settings.pageEnabled ? 1 : 0);
  written &= store.StoreProfileInt(kRemoteSection, "Page Port", settings.pagePort);
  if (!settings.token.empty()) written &= store.StoreProfileString(kRemoteSection, "Token", settings.token);
  written &= store.StoreProfileInt(kRemoteSection, "OSC", settings.oscEnabled ? 1 : 0);
  written &= store.StoreProfileInt(kRemoteSection, "OSC Port", settings.oscPort);
  written &= store.StoreProfileString(kRemoteSection, "OSC Allowed Hosts", settings.oscAllowedHosts);
  return written;
}

bool EnsureAccessToken(ProfileStore& store, RemoteSettings& settings) {
  if (IsWellFormedToken(settings.token)) return true;
  return RenewAccessToken(store, settings);
}

bool RenewAccessToken(ProfileStore& store, RemoteSettings& settings) {
  std::string token = NewAccessToken();
  if (token.empty()) return false;
  settings.token = std::move(token);
  return store.StoreProfileString(kRemoteSection, "Token", settings.token);
}

bool ParsePort(const std::string& text, std::uint16_t& port) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty() || value < 1 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}
