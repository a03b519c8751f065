#pragma once
// The `ufcs` command: the analyzer's core without a window.

#include <iosfwd>
#include <map>
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

// `ufcs capture ...`: listens to the instrument, prints rows as they arrive, saves the capture.
int runCapture(const std::vector<std::string>& args, bool trace, std::ostream& out,
               std::ostream& err);

// `ufcs send ENTRY [fields]`: sends one entry of the send list as the charging device.
int runSend(const std::vector<std::string>& args, bool trace, std::ostream& out, std::ostream& err);
// `ufcs modes`: the charger's output modes, as the output-modes panel lists them.
int runModes(const std::vector<std::string>& args, bool trace, std::ostream& out,
             std::ostream& err);

// A command line split into its positional words, its flags and its options with a value.
struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::string> flags;
    std::map<std::string, std::string> values;
    bool has(const std::string& flag) const;
    std::string value(const std::string& option, const std::string& fallback = {}) const;
};
// Nothing when a word is not among the allowed flags and options, an option lacks
// its value, or the number of positional words is not `positionalCount`.
std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const std::vector<std::string>& allowedFlags,
                                        std::size_t positionalCount,
                                        const std::vector<std::string>& valueOptions = {});

}  // namespace cli
