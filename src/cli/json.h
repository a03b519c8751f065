#pragma once

#include <string>
#include <string_view>

namespace cli {

// `text` as a JSON string literal, quotes included. UTF-8 passes through.
std::string jsonString(std::string_view text);

}  // namespace cli
