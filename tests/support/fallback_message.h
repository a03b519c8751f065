#pragma once
// What a failed save's message says about the data: where it went instead.

#include <filesystem>
#include <optional>
#include <string>

namespace testing_support {

// The file named after "数据已另存到 " (up to the end of its line); nothing when
// the message names none.
inline std::optional<std::filesystem::path> savedElsewhere(const std::string& message) {
    const std::string said = "数据已另存到 ";
    const auto at = message.find(said);
    if (at == std::string::npos) return std::nullopt;
    const auto from = at + said.size();
    const auto end = message.find('\n', from);
    return std::filesystem::path(
        message.substr(from, end == std::string::npos ? std::string::npos : end - from));
}

}  // namespace testing_support
