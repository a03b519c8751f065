#include "common/program_info.h"

#include "common/version.h"

namespace common {

std::string versionLine(std::string_view program) {
    return std::string(program) + " " + kVersionText;
}

std::optional<int> answerHelpOrVersion(const std::vector<std::string>& arguments,
                                       std::string_view program, std::string_view usage,
                                       std::ostream& out) {
    if (arguments.empty()) return std::nullopt;
    const std::string& first = arguments.front();
    if (first == "--version" || first == "-v") {
        out << versionLine(program) << "\n";
        return 0;
    }
    if (first == "--help" || first == "-h") {
        out << usage << "  -h, --help      this text\n"
            << "  -v, --version   the version\n";
        return 0;
    }
    return std::nullopt;
}

}  // namespace common
