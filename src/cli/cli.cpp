#include "cli/cli.h"

#include <ostream>

namespace cli {
namespace {

constexpr const char* kUsage =
    "usage: ufcs COMMAND ...\n"
    "commands:\n"
    "  rows FILE [--json]   list a capture file as the analyzer lists it\n";

}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? 2 : 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "rows") return runRows(rest, out, err);
    err << "ufcs: unknown command '" << args[0] << "'\n" << kUsage;
    return 2;
}

}  // namespace cli
