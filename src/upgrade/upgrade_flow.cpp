#include "upgrade/upgrade_flow.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

#include "common/file_save.h"
#include "common/format.h"

namespace upgrade {
namespace {

namespace fs = std::filesystem;

std::string_view replyText(const FetchResult& reply) {
    const std::size_t size = std::min(reply.bytes.size(), kMostReplyBytes);
    return {reinterpret_cast<const char*>(reply.bytes.data()), size};
}

std::optional<std::vector<uint8_t>> readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    if (in.bad()) return std::nullopt;
    return bytes;
}

}  // namespace

std::string currentProgramText() {
    return common::format("当前版本：%.2f ", kOwnVersionCode / 100.0);
}

std::string_view downloadName(UpgradedProgram program) {
    return program == UpgradedProgram::Analyzer ? "k512.exe" : "k512_cur.exe";
}

std::string_view updaterArgument(UpgradedProgram program) {
    return program == UpgradedProgram::Analyzer ? "k512 protocol" : "k512 Cur_Test";
}

FetchRequest programQueryRequest(UpgradedProgram program, const UpgradeSettings& settings) {
    return {serverUrl(settings, programQuery(program)), kMostFetchedReplyBytes, {}};
}

ProgramOffer readProgramOffer(UpgradedProgram program, const FetchResult& reply) {
    ProgramOffer offer;
    offer.reached = reply.ok;
    if (!reply.ok) {
        offer.label = kProgramNotReached;
        return offer;
    }
    offer.name = serverName(program);
    readProgramReply(program, replyText(reply), offer.check);
    offer.integrity = readIntegrity(replyText(reply));
    offer.label = newProgramText(offer.check.latestCode);
    offer.newer = offer.check.latestCode > kOwnVersionCode;
    return offer;
}

FetchRequest firmwareQueryRequest(const instrument::InstrumentVersions& versions,
                                  const UpgradeSettings& settings) {
    return {serverUrl(settings, firmwareQuery(versions.hardware[1], versions.hardware[0],
                                              versions.firmware[0], versions.firmware[1])),
            kMostFetchedReplyBytes,
            {}};
}

FirmwareOffer readFirmwareOffer(const FetchResult& reply, FirmwareCheck& check) {
    FirmwareOffer offer;
    offer.reached = reply.ok;
    if (!reply.ok) {
        offer.label = kFirmwareNotReached;
        return offer;
    }
    readFirmwareReply(replyText(reply), check);
    offer.version = check.versionText;
    offer.integrity = readIntegrity(replyText(reply));
    offer.upgrade = check.upgradeFlag != 0;
    offer.label = offer.upgrade ? "最新软件版本：" + check.versionText : "已是最新版!";
    return offer;
}

std::optional<std::string> programFolderRefusal(const std::filesystem::path& folder) {
    // Asked of the folder itself, by writing: permissions, ACLs and read-only mounts alike.
    static std::atomic<unsigned> probes{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::filesystem::path probe =
        folder / common::format(".ufcs-upgrade-probe-%llx-%u", static_cast<unsigned long long>(now),
                                probes++);
    bool written = false;
    {
        std::ofstream file(probe, std::ios::binary | std::ios::trunc);
        written = file.good();
    }
    std::error_code ignored;
    std::filesystem::remove(probe, ignored);
    if (written) return std::nullopt;
    return common::format(
        "程序所在的文件夹 %s 不能写入（由软件包安装的程序都是这样），不能在这里自行升级。\n"
        "请用系统的软件包更新它（例如 sudo apt install --only-upgrade ufcs-suite），"
        "或请管理员安装新版本。",
        common::displayPath(folder).c_str());
}

FetchRequest programDownloadRequest(const ProgramOffer& offer, const fs::path& target) {
    return fileRequest(offer.check.url, kMostProgramBytes, target.string());
}

std::optional<std::string> acceptProgramDownload(const FetchResult& download,
                                                 const ProgramOffer& offer,
                                                 const UpgradeSettings& settings,
                                                 const fs::path& target) {
    if (!download.ok) return download.error;
    const fs::path partial(download.file);
    std::optional<std::string> refusal;
    if (const auto bytes = readWhole(partial)) {
        refusal = refusalOf({*bytes, offer.integrity, settings.publicKey, offer.name,
                             std::to_string(offer.check.latestCode), offer.check.latestCode,
                             kOwnVersionCode});
    } else {
        refusal = "无法读取下载的文件 " + partial.string();
    }
    std::error_code error;
    if (!refusal) {
        fs::remove(partialSourceOf(target.string()), error);
        fs::rename(partial, target, error);
        if (error) refusal = "无法保存下载的文件：" + error.message();
    }
    if (refusal) {
        fs::remove(partial, error);
        fs::remove(partialSourceOf(target.string()), error);
    }
    return refusal;
}

FetchRequest firmwareDownloadRequest(const FirmwareCheck& check) {
    return fileRequest(check.url, kMostFirmwareBytes);
}

std::optional<std::string> refusedFirmware(const FetchResult& download, const FirmwareOffer& offer,
                                           const UpgradeSettings& settings,
                                           const instrument::InstrumentVersions& running) {
    if (!download.ok) return download.error;
    // Versions as the firmware query writes them: two hexadecimal numbers.
    unsigned major = 0, minor = 0;
    char rest = 0;
    if (std::sscanf(offer.version.c_str(), "%x.%x%c", &major, &minor, &rest) == 2 &&
        std::pair(major, minor) <=
            std::pair(unsigned(running.firmware[0]), unsigned(running.firmware[1])))
        return common::format("提供的固件版本 %s 不比仪器上的 %x.%x 新，已拒绝",
                              offer.version.c_str(), running.firmware[0], running.firmware[1]);
    return refusalOf({download.bytes, offer.integrity, settings.publicKey,
                      std::string(kFirmwareReleaseName), offer.version, std::nullopt, 0});
}

FetchResult fetchOrFail(const Fetcher& fetcher, const FetchRequest& request,
                        const FetchProgress& progress) {
    if (request.url.empty()) {
        FetchResult none;
        none.error = "没有下载地址（未设置升级服务器，或服务器没有给出地址）";
        return none;
    }
    return fetcher(request, progress);
}

}  // namespace upgrade
