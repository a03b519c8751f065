#include "common/format.h"

#include <locale.h>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <system_error>

namespace common {
namespace {

// The C locale for this thread while it lives: printf's decimal point is
// then '.', whatever locale the program (or Qt, which takes the user's) set.
class CNumbers {
  public:
#ifdef _WIN32
    CNumbers() : perThread_(_configthreadlocale(_ENABLE_PER_THREAD_LOCALE)) {
        if (const char* now = std::setlocale(LC_NUMERIC, nullptr)) previous_ = now;
        std::setlocale(LC_NUMERIC, "C");
    }
    ~CNumbers() {
        if (!previous_.empty()) std::setlocale(LC_NUMERIC, previous_.c_str());
        _configthreadlocale(perThread_);
    }

  private:
    int perThread_;
    std::string previous_;
#else
    CNumbers() : previous_(uselocale(cLocale())) {}
    ~CNumbers() {
        uselocale(previous_);
    }

  private:
    static locale_t cLocale() {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        return c;
    }
    locale_t previous_;
#endif
};

void appendFormatV(std::string& out, const char* pattern, va_list args) {
    const CNumbers numbers;
    char small[128];
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(small, sizeof small, pattern, copy);
    va_end(copy);
    if (length <= 0) return;
    if (static_cast<size_t>(length) < sizeof small) {
        out.append(small, static_cast<size_t>(length));
        return;
    }
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(out.data() + start, static_cast<size_t>(length) + 1, pattern, args);
    out.resize(start + static_cast<size_t>(length));
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if ((text[i] | 0x20) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

std::string format(const char* pattern, ...) {
    std::string out;
    va_list args;
    va_start(args, pattern);
    appendFormatV(out, pattern, args);
    va_end(args);
    return out;
}

void appendFormat(std::string& out, const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    appendFormatV(out, pattern, args);
    va_end(args);
}

// std::from_chars knows no locale; the sign and the 0x prefix strtod takes are read here.
std::optional<double> readNumber(std::string_view text, std::size_t* used) {
    std::size_t at = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) return std::nullopt;
    std::chars_format style = std::chars_format::general;
    const bool hex = startsWithNoCase(text.substr(at), "0x") && text.size() > at + 2 &&
                     text[at + 2] != '+' && text[at + 2] != '-';
    if (hex) style = std::chars_format::hex;
    const char* first = text.data() + at + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    double value = 0;
    std::from_chars_result read = std::from_chars(first, last, value, style);
    if (read.ec == std::errc::invalid_argument && hex) {
        // "0x" with no hexadecimal digit after it: strtod reads the 0.
        first = text.data() + at;
        read = std::from_chars(first, first + 1, value);
    }
    if (read.ec == std::errc::invalid_argument) return std::nullopt;
    if (read.ec == std::errc::result_out_of_range) value = std::numeric_limits<double>::infinity();
    if (used) *used = static_cast<std::size_t>(read.ptr - text.data());
    return negative ? -value : value;
}

std::optional<double> parseNumber(std::string_view text) {
    std::size_t used = 0;
    const std::optional<double> value = readNumber(text, &used);
    if (!value || used != text.size()) return std::nullopt;
    return value;
}

}  // namespace common
