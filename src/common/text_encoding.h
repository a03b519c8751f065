#pragma once
// GBK, the encoding Chinese Windows tools (spreadsheets among them) read by
// default, made from the program's UTF-8 texts.

#include <string>
#include <string_view>

namespace common {

// `text` (UTF-8) in GBK; a character GBK lacks becomes '?'.
std::string utf8ToGbk(std::string_view text);

}  // namespace common
