#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace common {

// `text` as a JSON string literal, quotes included. UTF-8 passes through.
std::string jsonString(std::string_view text);

// A number, or null.
template <typename T>
std::string jsonNumber(const std::optional<T>& value) {
    return value ? std::to_string(*value) : std::string("null");
}

}  // namespace common
