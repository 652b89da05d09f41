// The remote page's access token: 128 random bits from the system's generator, written
// as 32 lower-case hexadecimal digits. Whoever has it can press the unit's keys.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr std::size_t kAccessTokenBytes = 16;
inline constexpr std::size_t kAccessTokenDigits = 2 * kAccessTokenBytes;

// A new token; empty when the system's generator failed (never a weaker one).
std::string NewAccessToken();
// 32 lower-case hexadecimal digits.
bool IsWellFormedToken(std::string_view token);
// True when `offered` equals `expected`. The time taken depends on the length of
// `expected` only, not on where the two first differ or on the offered length.
bool TokenMatches(std::string_view expected, std::string_view offered);
