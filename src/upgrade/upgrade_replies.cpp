#include "upgrade/upgrade_replies.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/format.h"

namespace upgrade {
namespace {

constexpr std::string_view kFirmwareHead = R"({"upgrade":)";
constexpr std::string_view kModuleType = R"(,"upgradeInfo":{"mtypecode":)";
constexpr std::string_view kVersion = R"(,"vercode":)";
constexpr std::string_view kUrlLead = R"(,"fwUrl":")";

// Reads what scanf's "%d" reads at `at` (blanks, a sign, digits); false when
// there is no number or it does not fit an int.
bool readInt(std::string_view text, std::size_t& at, int& value) {
    std::size_t i = at;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t digits = i;
    long long number = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        number = number * 10 + (text[i++] - '0');
        if (number > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (i == digits) return false;
    number = negative ? -number : number;
    if (number > INT_MAX || number < INT_MIN) return false;
    value = static_cast<int>(number);
    at = i;
    return true;
}

// What scanf's "%f" accepts at `at`: a decimal number (with exponent), or
// inf/nan; false for anything else, a quoted value among them.
bool readNumber(std::string_view text, std::size_t& at) {
    std::size_t i = at;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    std::size_t used = 0;
    if (!common::readNumber(text.substr(i, 64), &used)) return false;
    at = i + used;
    return true;
}

bool consume(std::string_view text, std::size_t& at, std::string_view literal) {
    if (text.substr(at, literal.size()) != literal) return false;
    at += literal.size();
    return true;
}

// scanf's "%[^x]": at least one character up to `stop`, at most `most` of them.
bool readUntil(std::string_view text, std::size_t& at, char stop, std::size_t most,
               std::string& into) {
    std::size_t end = at;
    while (end < text.size() && text[end] != stop && end - at < most)
        ++end;
    if (end == at) return false;
    into.assign(text.substr(at, end - at));
    at = end;
    return true;
}

// From the first `key` anywhere: key":"<text up to the next quote>.
void readQuotedAfter(std::string_view text, std::string_view key, std::string& into) {
    const std::size_t found = text.find(key);
    if (found == std::string_view::npos) return;
    std::size_t at = found + key.size();
    if (consume(text, at, R"(":")")) readUntil(text, at, '"', kMostUrlCharacters, into);
}

}  // namespace

std::string_view serverName(UpgradedProgram program) {
    return program == UpgradedProgram::Analyzer ? "ufcs_analyse_protocol_app"
                                                : "UFCS_ANALYSE_vol_cur_test";
}

std::string programQuery(UpgradedProgram program, int versionCode) {
    return common::format("/vezu_android_apks/kvdapk?apkname=%s&vercode=%d&devid=731845502966214",
                          serverName(program).data(), versionCode);
}

std::string firmwareQuery(uint8_t hardwareHigh, uint8_t hardwareLow, uint8_t firmwareHigh,
                          uint8_t firmwareLow) {
    return common::format(
        "/kvd/module_upgrade2?devid=480213657790&mtype=11&modetype=0583&pver=%x.%x&fver=%x.%x",
        hardwareHigh, hardwareLow, firmwareHigh, firmwareLow);
}

void readProgramReply(UpgradedProgram program, std::string_view reply, ProgramCheck& check) {
    reply = reply.substr(0, kMostReplyBytes);
    check = ProgramCheck{};
    const std::string head =
        R"({"id":0,"apkname":")" + std::string(serverName(program)) + R"(","apkvercode":)";
    std::size_t at = 0;
    int code = 0;
    if (consume(reply, at, head) && readInt(reply, at, code)) check.latestCode = code;
    readQuotedAfter(reply, "apkUrl", check.url);
}

void readFirmwareReply(std::string_view reply, FirmwareCheck& check) {
    reply = reply.substr(0, kMostReplyBytes);
    check.versionText.clear();
    check.url.clear();
    // First reading: the flag, the module type and the version as text.
    std::size_t at = 0;
    int value = 0;
    const bool headed = consume(reply, at, kFirmwareHead) && readInt(reply, at, value);
    if (headed) check.upgradeFlag = value;
    if (headed && consume(reply, at, kModuleType) && readInt(reply, at, value)) {
        check.moduleType = value;
        std::size_t versionAt = at;
        if (consume(reply, versionAt, kVersion))
            readUntil(reply, versionAt, ',', kMostVersionCharacters, check.versionText);
        // Second reading: the URL, only where the version is a plain number.
        std::size_t urlAt = at;
        if (consume(reply, urlAt, kVersion) && readNumber(reply, urlAt) &&
            consume(reply, urlAt, kUrlLead))
            readUntil(reply, urlAt, '"', kMostUrlCharacters, check.url);
    }
    // Read wherever the first "checksum" stands, whatever the rest matched.
    const std::size_t found = reply.find("checksum");
    if (found != std::string_view::npos) {
        std::size_t sumAt = found + 8;
        if (consume(reply, sumAt, R"(":)") && readInt(reply, sumAt, value)) check.checksum = value;
    }
}

std::string latestVersionText(int latestCode) {
    return "最新版本：" + common::format("%x.%.2x", static_cast<unsigned>(latestCode / 100),
                                         static_cast<unsigned>(latestCode % 100));
}

std::string newProgramText(int latestCode) {
    return latestCode <= kOwnVersionCode ? "已是最新版本" : latestVersionText(latestCode);
}

}  // namespace upgrade
