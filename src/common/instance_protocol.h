#pragma once
// The words a running program and the updater exchange on the program's
// instance channel (a local socket, a named pipe on Windows): the request
// "close" or "close PATH", and the answers, one per line: "asking" when the
// program first asks its user about unsaved work, then "ok" (it closes),
// "kept" (its user keeps it open) or "other ITS-PATH" (not that executable).

#include <filesystem>
#include <string>
#include <string_view>

namespace common {

inline constexpr std::string_view kCloseRequest = "close";
inline constexpr std::string_view kAskingAnswer = "asking";
inline constexpr std::string_view kClosingAnswer = "ok";
inline constexpr std::string_view kKeptAnswer = "kept";
inline constexpr std::string_view kOtherAnswer = "other ";  // then the executable's path

// Where program `name` (e.g. "color") listens: a socket in the user's private
// `folder`, or on Windows a named pipe of the user's own (the name without
// the \\.\pipe\ prefix). UTF-8.
std::string instanceSocketName(std::string_view name, const std::filesystem::path& folder);

}  // namespace common
