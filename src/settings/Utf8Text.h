// UTF-8 code points, one at a time, without a toolkit: for the profile's text and for
// what the command line shows of text it was given.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The code point of the well-formed UTF-8 sequence at text[at] (shortest form, no
// surrogates, at most U+10FFFF), advancing at past it; nothing (and at unchanged) when
// none starts there.
std::optional<char32_t> NextUtf8(std::string_view text, std::size_t& at);

// Whether all of text is well-formed UTF-8.
bool IsUtf8(std::string_view text);

// Appends the UTF-8 form of code.
void AppendUtf8(std::string& out, char32_t code);
