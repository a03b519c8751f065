// Any bytes as an update server's reply: fields stay within their sizes, and
// nothing crashes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "analyzer/download_checks.h"
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

    // The integrity fields of any reply, and any text as a key or a signature:
    // decoded safely, and no forged signature passes.
    const analyzer::DownloadIntegrity integrity = analyzer::readIntegrity(reply);
    const std::span<const uint8_t> bytes(data, size);
    constexpr std::string_view kKey = "CHhNHIsZJAHG9ZN5Lq1MOVrRxVs29HW8JaftFChQeWI=";
    if (analyzer::signatureVerifies(bytes, integrity.signature, kKey)) std::abort();
    (void)analyzer::publicKeyUsable(integrity.signature);
    (void)analyzer::refusalOf({bytes, integrity, std::string(integrity.sha256),
                               "ufcs_analyse_protocol_app", "101", 101, 100});
    // A statement is read only in its canonical form: read back, it is the same text.
    for (const std::string_view text : {reply, std::string_view(integrity.statement)})
        if (const auto statement = analyzer::parseStatement(text))
            if (analyzer::statementText(*statement) != text) std::abort();
    return 0;
}
