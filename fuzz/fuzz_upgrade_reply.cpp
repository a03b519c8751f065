// Any bytes as an update server's reply: fields stay within their sizes, and
// nothing crashes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "upgrade/download_checks.h"
#include "upgrade/upgrade_replies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    upgrade::ProgramCheck program;
    upgrade::readProgramReply(upgrade::UpgradedProgram::Analyzer, reply, program);
    if (program.url.size() > upgrade::kMostUrlCharacters) std::abort();
    upgrade::readProgramReply(upgrade::UpgradedProgram::Recorder, reply, program);
    upgrade::FirmwareCheck firmware;
    upgrade::readFirmwareReply(reply, firmware);
    if (program.url.size() > upgrade::kMostUrlCharacters ||
        firmware.url.size() > upgrade::kMostUrlCharacters ||
        firmware.versionText.size() > upgrade::kMostVersionCharacters)
        std::abort();
    (void)upgrade::newProgramText(program.latestCode);

    // The integrity fields of any reply, and any text as a key or a signature:
    // decoded safely, and no forged signature passes.
    const upgrade::DownloadIntegrity integrity = upgrade::readIntegrity(reply);
    const std::span<const uint8_t> bytes(data, size);
    constexpr std::string_view kKey = "CHhNHIsZJAHG9ZN5Lq1MOVrRxVs29HW8JaftFChQeWI=";
    if (upgrade::signatureVerifies(bytes, integrity.signature, kKey)) std::abort();
    (void)upgrade::publicKeyUsable(integrity.signature);
    (void)upgrade::refusalOf({bytes, integrity, std::string(integrity.sha256),
                              "ufcs_analyse_protocol_app", "101", 101, 100});
    // A statement is read only in its canonical form: read back, it is the same text.
    for (const std::string_view text : {reply, std::string_view(integrity.statement)})
        if (const auto statement = upgrade::parseStatement(text))
            if (upgrade::statementText(*statement) != text) std::abort();
    return 0;
}
