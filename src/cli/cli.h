#pragma once
// The `ufcs` command: the analyzer's core without a window.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Runs one command line (without the program name); returns the exit status.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `ufcs rows FILE [--json]`: the message list of a capture file.
int runRows(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `ufcs decode FILE INDEX [--json]`: the decode of one record, as shown when its row is selected.
int runDecode(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// A command line split into its positional words and its --flags.
struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::string> flags;
    bool has(const std::string& flag) const;
};
// Nothing when a flag is not among `allowedFlags` or the number of positional words is not `positionalCount`.
std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const std::vector<std::string>& allowedFlags,
                                        std::size_t positionalCount);

}  // namespace cli
