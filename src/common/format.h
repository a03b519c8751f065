#pragma once
// printf-style formatting into std::string. The program's texts are printf
// patterns ("%d:%02d:%02d", "%.2X "), so they are used as they stand.

#include <string>

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

}  // namespace common
