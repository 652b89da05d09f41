// The remote control's settings: profile values of their own, in section "Remote
// Control" beside the design's "Settings", which they leave untouched. Everything is off
// until the user switches it on.
#pragma once

#include <cstdint>
#include <string>

class ProfileStore;

inline constexpr char kRemoteSection[] = "Remote Control";
inline constexpr std::uint16_t kDefaultPagePort = 8391;
inline constexpr std::uint16_t kDefaultOscPort = 9391;
// OSC is taken from this computer only until the user names other hosts.
inline constexpr char kDefaultOscAllowedHosts[] = "127.0.0.1";

struct RemoteSettings {
  bool pageEnabled = false;                   // "Page"
  std::uint16_t pagePort = kDefaultPagePort;  // "Page Port"
  std::string token;                          // "Token": empty or 32 hexadecimal digits
  bool oscEnabled = false;                    // "OSC"
  std::uint16_t oscPort = kDefaultOscPort;    // "OSC Port"
  std::string oscAllowedHosts = kDefaultOscAllowedHosts;  // "OSC Allowed Hosts"
};

// The stored values; a missing or unusable one (a port outside 1..65535, a token that is
// not 32 lower-case hexadecimal digits) reads as its default.
RemoteSettings ReadRemoteSettings(const ProfileStore& store);
// Writes every value; true when all reached the disk.
bool WriteRemoteSettings(ProfileStore& store, const RemoteSettings& settings);
// Gives `settings` a token when it has none: a new one, stored at once so the address
// stays the same from run to run. False when it could not be stored (the new token then
// holds for this run only) or, with settings.token left empty, when the system's
// generator failed.
bool EnsureAccessToken(ProfileStore& store, RemoteSettings& settings);
// Replaces the token with a new one and stores it; the old one stops working. False as
// for EnsureAccessToken.
bool RenewAccessToken(ProfileStore& store, RemoteSettings& settings);
// A port number as typed: 1..65535, nothing else.
bool ParsePort(const std::string& text, std::uint16_t& port);
