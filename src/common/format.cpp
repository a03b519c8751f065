#include "common/format.h"

#include <cstdarg>
#include <cstdio>

namespace common {
namespace {

void appendFormatV(std::string& out, const char* pattern, va_list args) {
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

}  // namespace common
