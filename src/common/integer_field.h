#pragma once
// Whole numbers typed into a field, checked as the dialog framework of every
// program checks them, with its two prompts.

#include <optional>
#include <string>

namespace common {

// A typed whole number within [least, most]: its value, or the framework's
// prompt for what is wrong with it. Blanks around the number are allowed.
struct IntegerField {
    long long value = 0;
    std::optional<std::string> problem;
};
IntegerField checkIntegerField(const std::string& text, long long least, long long most);
inline constexpr const char* kNotAnInteger = "请键入一个整数。";
std::string outOfRangePrompt(long long least, long long most);

}  // namespace common
