#pragma once
// --help and --version for every program, answered before anything else
// starts (a GUI program then needs no display to say what it is).

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace common {

// "NAME 1.00"
std::string versionLine(std::string_view program);

// When `arguments` (without the program's own name) ask for help or the
// version, prints the answer to `out` (the usage followed by the lines for
// these two options) and returns the exit status (0);
// otherwise nothing. Only a first argument counts, so a file named
// "--help" can still be opened after "--".
std::optional<int> answerHelpOrVersion(const std::vector<std::string>& arguments,
                                       std::string_view program, std::string_view usage,
                                       std::ostream& out);

}  // namespace common
