#include "cli/cli.h"

#include <algorithm>
#include <ostream>

namespace cli {
namespace {

constexpr const char* kUsage =
    "usage: ufcs COMMAND ...\n"
    "commands:\n"
    "  rows FILE [--json]           list a capture file as the analyzer lists it\n"
    "  decode FILE INDEX [--json]   decode one record as the analyzer shows it\n";

}  // namespace

bool Arguments::has(const std::string& flag) const {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const std::vector<std::string>& allowedFlags,
                                        std::size_t positionalCount) {
    Arguments parsed;
    for (const std::string& arg : args) {
        if (!arg.starts_with("--")) {
            parsed.positional.push_back(arg);
        } else if (std::find(allowedFlags.begin(), allowedFlags.end(), arg) != allowedFlags.end()) {
            parsed.flags.push_back(arg);
        } else {
            return std::nullopt;
        }
    }
    if (parsed.positional.size() != positionalCount) return std::nullopt;
    return parsed;
}

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? 2 : 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "rows") return runRows(rest, out, err);
    if (args[0] == "decode") return runDecode(rest, out, err);
    err << "ufcs: unknown command '" << args[0] << "'\n" << kUsage;
    return 2;
}

}  // namespace cli
