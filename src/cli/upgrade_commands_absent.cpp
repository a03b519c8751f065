// A build without the upgrade downloads (no Qt Network or OpenSSL, as in the
// Windows cross build): the two commands say so instead of running.
#include <ostream>

#include "cli/cli.h"

namespace cli {
namespace {

int absent(const char* command, std::ostream& err) {
    err << "ufcs " << command
        << ": this build has no upgrade support (it was built without Qt Network and OpenSSL)\n";
    return 2;
}

}  // namespace

int runCheckUpdate(const std::vector<std::string>&, const upgrade::Fetcher&, std::ostream&,
                   std::ostream& err) {
    return absent("check-update", err);
}

int runFirmware(const std::vector<std::string>&, bool, const upgrade::Fetcher&, std::ostream&,
                std::ostream& err) {
    return absent("firmware", err);
}

}  // namespace cli
