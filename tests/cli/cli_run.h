#pragma once
// Runs the `ufcs` command in process and keeps what it printed.

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace testing_support {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// `fetch`: how the upgrade commands download (none: they say this build cannot).
inline CliRun runUfcs(const std::vector<std::string>& args, const upgrade::Fetcher& fetch = {}) {
    std::ostringstream out, err;
    const int status = cli::runCli(args, out, err, fetch);
    return {status, out.str(), err.str()};
}

}  // namespace testing_support
