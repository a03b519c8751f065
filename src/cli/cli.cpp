#include "cli/cli.h"

#include <algorithm>
#include <ostream>

namespace cli {
namespace {

constexpr const char* kUsage =
    "usage: ufcs COMMAND ...\n"
    "commands:\n"
    "  rows FILE [--json]           list a capture file as the analyzer lists it\n"
    "  decode FILE INDEX [--json]   decode one record as the analyzer shows it\n"
    "  capture [--simulate] [--mode listen|sink] [--type-c] [--refuse-ack] [--refuse-ping]\n"
    "          [--seconds S] -o FILE\n"
    "                               listen to the instrument, print rows as they arrive, save the "
    "capture\n"
    "  send [--simulate] ENTRY [fields]\n"
    "                               send one entry of the send list as the charging device\n"
    "  modes [--simulate]           list the charger's output modes\n"
    "global option: --trace         print every report written (>) and read (<) on stderr\n";

}  // namespace

bool Arguments::has(const std::string& flag) const {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

std::string Arguments::value(const std::string& option, const std::string& fallback) const {
    const auto it = values.find(option);
    return it == values.end() ? fallback : it->second;
}

std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const std::vector<std::string>& allowedFlags,
                                        std::size_t positionalCount,
                                        const std::vector<std::string>& valueOptions) {
    auto among = [](const std::vector<std::string>& words, const std::string& word) {
        return std::find(words.begin(), words.end(), word) != words.end();
    };
    Arguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (among(valueOptions, arg)) {
            if (i + 1 >= args.size()) return std::nullopt;
            parsed.values[arg] = args[++i];
        } else if (among(allowedFlags, arg)) {
            parsed.flags.push_back(arg);
        } else if (!arg.starts_with("-") || arg == "-") {
            parsed.positional.push_back(arg);
        } else {
            return std::nullopt;
        }
    }
    if (parsed.positional.size() != positionalCount) return std::nullopt;
    return parsed;
}

int runCli(const std::vector<std::string>& commandLine, std::ostream& out, std::ostream& err) {
    // --trace may stand before or after the command name.
    std::vector<std::string> args;
    bool trace = false;
    for (const std::string& arg : commandLine) {
        if (arg == "--trace")
            trace = true;
        else
            args.push_back(arg);
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? 2 : 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "rows") return runRows(rest, out, err);
    if (args[0] == "decode") return runDecode(rest, out, err);
    if (args[0] == "capture") return runCapture(rest, trace, out, err);
    if (args[0] == "send") return runSend(rest, trace, out, err);
    if (args[0] == "modes") return runModes(rest, trace, out, err);
    err << "ufcs: unknown command '" << args[0] << "'\n" << kUsage;
    return 2;
}

}  // namespace cli
