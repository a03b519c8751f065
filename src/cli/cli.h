#pragma once
// The `ufcs` command: the analyzer's core without a window.

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

// Runs one command line (without the program name); returns the exit status.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `ufcs rows FILE [--json]`: the message list of a capture file.
int runRows(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cli
