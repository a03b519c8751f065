#include "common/integer_field.h"

#include <charconv>

#include "common/format.h"

namespace common {

IntegerField checkIntegerField(const std::string& text, long long least, long long most) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    while (begin < end && *begin == ' ')
        ++begin;
    while (end > begin && end[-1] == ' ')
        --end;
    IntegerField field;
    const auto [next, error] = std::from_chars(begin, end, field.value);
    if (error != std::errc() || next != end || begin == end)
        field.problem = kNotAnInteger;
    else if (field.value < least || field.value > most)
        field.problem = outOfRangePrompt(least, most);
    return field;
}

std::string outOfRangePrompt(long long least, long long most) {
    return common::format("“请填入一个在%lld和%lld之间的整数。”", least, most);
}

}  // namespace common
