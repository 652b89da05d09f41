#include "server/AccessToken.h"

#include <array>

#include "server/SystemRandom.h"

std::string NewAccessToken() {
  std::array<unsigned char, kAccessTokenBytes> bytes{};
  if (!FillSystemRandom(bytes.data(), bytes.size())) return {};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string token;
  token.reserve(kAccessTokenDigits);
  for (unsigned char byte : bytes) {
    token += kDigits[byte >> 4];
    token += kDigits[byte & 0xF];
  }
  return token;
}

bool IsWellFormedToken(std::string_view token) {
  if (token.size() != kAccessTokenDigits) return false;
  for (char c : token) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool TokenMatches(std::string_view expected, std::string_view offered) {
  // Every byte of the expected token is looked at whatever the offer holds; a byte the
  // offer lacks compares against 0, and a length difference counts as a difference.
  unsigned difference = expected.size() == offered.size() ? 0u : 1u;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const unsigned char want = static_cast<unsigned char>(expected[i]);
    const unsigned char got = i < offered.size() ? static_cast<unsigned char>(offered[i]) : 0;
    difference |= static_cast<unsigned>(want ^ got);
  }
  return !expected.empty() && difference == 0;
}
