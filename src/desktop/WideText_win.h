// Conversions between our UTF-8 strings and the UTF-16 text of the Windows wide-character
// functions. Windows builds only.
#pragma once

#include <string>
#include <string_view>

// Text that is not valid UTF-8 (or UTF-16) has the offending units replaced.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
