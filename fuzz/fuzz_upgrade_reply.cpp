// Any bytes as an update server's reply: fields stay within their sizes, and
// nothing crashes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "analyzer/upgrade_replies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    analyzer::ProgramCheck program;
    analyzer::readProgramReply(analyzer::UpgradedProgram::Analyzer, reply, program);
    if (program.url.size() > analyzer::kMostUrlCharacters) std::abort();
    analyzer::readProgramReply(analyzer::UpgradedProgram::Recorder, reply, program);
    analyzer::FirmwareCheck firmware;
    analyzer::readFirmwareReply(reply, firmware);
    if (program.url.size() > analyzer::kMostUrlCharacters ||
        firmware.url.size() > analyzer::kMostUrlCharacters ||
        firmware.versionText.size() > analyzer::kMostVersionCharacters)
        std::abort();
    (void)analyzer::newProgramText(program.latestCode);
    return 0;
}
