#pragma once
// printf-style formatting into std::string, and reading numbers back. The
// program's texts are printf patterns ("%d:%02d:%02d", "%.2X "), so they are
// used as they stand. Numbers are written and read with the C conventions
// (a decimal point, never a comma) whatever the user's locale: they go into
// files, queries and replies that other programs read.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace common {

#if defined(__GNUC__)
#define COMMON_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define COMMON_PRINTF_FORMAT(fmt, args)
#endif

// Returns the formatted text.
std::string format(const char* pattern, ...) COMMON_PRINTF_FORMAT(1, 2);

// Appends the formatted text to `out`.
void appendFormat(std::string& out, const char* pattern, ...) COMMON_PRINTF_FORMAT(2, 3);

// A number at the start of `text` as strtod reads it in the C locale (sign,
// digits with a decimal point, exponent, 0x hexadecimal, inf, nan; no leading
// space). Nothing when no number starts there; `used` gets its length. Too
// large or too small a magnitude reads as infinity.
std::optional<double> readNumber(std::string_view text, std::size_t* used = nullptr);
// The whole of `text` as a number; nothing when anything else is in it.
std::optional<double> parseNumber(std::string_view text);

}  // namespace common
