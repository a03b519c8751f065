#include "common/text_encoding.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <algorithm>

#include <cerrno>
#endif

namespace common {

#ifdef _WIN32

std::string utf8ToGbk(std::string_view text) {
    if (text.empty()) return {};
    const int wide =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf16.data(), wide);
    const int bytes = WideCharToMultiByte(936, 0, utf16.data(), wide, nullptr, 0, "?", nullptr);
    std::string gbk(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(936, 0, utf16.data(), wide, gbk.data(), bytes, "?", nullptr);
    return gbk;
}

#else

namespace {

// Bytes in the UTF-8 sequence that starts with `lead`.
std::size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

}  // namespace

std::string utf8ToGbk(std::string_view text) {
    iconv_t converter = iconv_open("GBK", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    std::string gbk;
    gbk.reserve(text.size());
    char buffer[256];
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t done = iconv(converter, &in, &inLeft, &out, &outLeft);
        gbk.append(buffer, static_cast<std::size_t>(out - buffer));
        if (done != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        // A character GBK has no code for, or broken UTF-8: one '?' for it.
        gbk.push_back('?');
        const std::size_t skip = std::min(inLeft, sequenceLength(static_cast<unsigned char>(*in)));
        in += skip;
        inLeft -= skip;
    }
    iconv_close(converter);
    return gbk;
}

#endif

}  // namespace common
