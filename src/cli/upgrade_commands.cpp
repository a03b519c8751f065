// `ufcs check-update` and `ufcs firmware`: the upgrade dialogs' steps, for
// automation and tests.
#include <iostream>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/run_control.h"
#include "common/format.h"
#include "upgrade/upgrade_flow.h"

namespace cli {
namespace {

// The server and key of the command line, over the build's defaults.
upgrade::UpgradeSettings settingsFrom(const Arguments& parsed) {
    common::MemoryProfile profile;
    upgrade::UpgradeSettings settings = upgrade::loadUpgradeSettings(profile);
    settings.server = parsed.value("--server", settings.server);
    settings.publicKey = parsed.value("--public-key", settings.publicKey);
    return settings;
}

// Without a key nothing vouches for a download: it is fetched only when asked for plainly.
bool unsignedAllowed(const Arguments& parsed, const upgrade::UpgradeSettings& settings,
                     const std::string& command, std::ostream& err) {
    if (!settings.publicKey.empty() || parsed.has("--allow-unsigned")) return true;
    err << upgrade::unsignedWarning(settings.server) << "\n";
    reportBadArgument(command, "no --public-key: add --allow-unsigned to download unsigned", err);
    return false;
}

bool haveFetcher(const upgrade::Fetcher& fetch, const std::string& command, std::ostream& err) {
    if (fetch) return true;
    err << "ufcs " << command << ": this build cannot download\n";
    return false;
}

// "下载 1.2 MB / 5.0 MB" on one stderr line, rewritten as it grows.
upgrade::FetchProgress progressLine(std::ostream& err) {
    return [&err](uint64_t received, int64_t total) {
        err << "\r" << common::format("下载 %.1f KB", received / 1024.0);
        if (total >= 0) err << common::format(" / %.1f KB", total / 1024.0);
        err.flush();
    };
}

class PrintedTransfer final : public instrument::FirmwareTransferListener {
  public:
    PrintedTransfer(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
    void onStatusText(std::string_view text) override { out_ << text << "\n" << std::flush; }
    void onProgress(uint32_t done, uint32_t pages) override {
        err_ << "\r" << common::format("%u/%u 页", done, pages) << (done == pages ? "\n" : "")
             << std::flush;
    }

  private:
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace

int runCheckUpdate(const std::vector<std::string>& args, const upgrade::Fetcher& fetch,
                   std::ostream& out, std::ostream& err) {
    const CommandSyntax syntax{
        "check-update",
        {"--json", "--allow-unsigned"},
        {{"--server"}, {"--program", {"analyzer", "recorder"}}, {"--download"}, {"--public-key"}}};
    const auto parsed = parseArguments(args, syntax, err);
    if (!parsed) return 2;
    if (!haveFetcher(fetch, syntax.command, err)) return 2;
    const auto program = parsed->value("--program") == "recorder"
                             ? upgrade::UpgradedProgram::Recorder
                             : upgrade::UpgradedProgram::Analyzer;
    const upgrade::UpgradeSettings settings = settingsFrom(*parsed);
    const upgrade::FetchResult reply =
        upgrade::fetchOrFail(fetch, upgrade::programQueryRequest(program, settings));
    const upgrade::ProgramOffer offer = upgrade::readProgramOffer(program, reply);
    if (!offer.reached) {
        out << offer.label << "\n";
        err << reply.error << "\n";
        return 1;
    }
    if (parsed->has("--json")) {
        out << "{\"latest\":" << offer.check.latestCode
            << ",\"url\":" << jsonString(offer.check.url) << ",\"text\":" << jsonString(offer.label)
            << "}\n";
    } else {
        out << "latest: " << offer.check.latestCode << "\nurl: " << offer.check.url
            << "\ntext: " << offer.label << "\n";
    }
    const std::string target = parsed->value("--download");
    if (target.empty() || !offer.newer) return 0;
    if (!unsignedAllowed(*parsed, settings, syntax.command, err)) return 2;
    const upgrade::FetchResult download = upgrade::fetchOrFail(
        fetch, upgrade::programDownloadRequest(offer, pathArgument(target)), progressLine(err));
    err << "\n";
    if (const auto refusal =
            upgrade::acceptProgramDownload(download, offer, settings, pathArgument(target))) {
        err << *refusal << "\n";
        return 1;
    }
    err << "saved " << target << "\n";
    return 0;
}

int runFirmware(const std::vector<std::string>& args, bool trace, const upgrade::Fetcher& fetch,
                std::ostream& out, std::ostream& err) {
    const CommandSyntax syntax{"firmware",
                               {"--simulate", "--allow-unsigned"},
                               {{"--server"}, {"--public-key"}, {"--fault"}, {kDeviceOption}}};
    const auto parsed = parseArguments(args, syntax, err);
    if (!parsed) return 2;
    const auto faults = simulatedFaults(*parsed, syntax.command, kFirmwareFaults, err);
    if (!faults || !haveFetcher(fetch, syntax.command, err)) return 2;
    const upgrade::UpgradeSettings settings = settingsFrom(*parsed);
    const std::unique_ptr<device::HidDevice> device =
        chosenInstrument(syntax.command, *parsed, trace, err, *faults);
    common::SystemClock clock;
    if (!device) {
        out << "当前版本：设备未连接\n";
        return 1;
    }
    if (!device->open()) {
        out << "当前版本：设备未连接\n";
        err << "设备连接失败! 请确认设备已经连上并没有被其它程序占用！\n";
        return 1;
    }
    const auto versions = instrument::readInstrumentVersions(*device, clock);
    if (!versions) {
        out << "当前版本：设备未连接\n";
        return 1;
    }
    out << instrument::currentFirmwareText(*versions) << "\n"
        << instrument::hardwareVersionText(*versions) << "\n"
        << instrument::ufcsVersionText(*versions) << "\n";
    upgrade::FirmwareCheck check;
    const upgrade::FetchResult reply =
        upgrade::fetchOrFail(fetch, upgrade::firmwareQueryRequest(*versions, settings));
    const upgrade::FirmwareOffer offer = upgrade::readFirmwareOffer(reply, check);
    out << offer.label << "\n";
    if (!offer.upgrade) return 1;
    if (!unsignedAllowed(*parsed, settings, syntax.command, err)) return 2;

    const upgrade::FetchResult image =
        upgrade::fetchOrFail(fetch, upgrade::firmwareDownloadRequest(check), progressLine(err));
    err << "\n";
    if (!image.ok) {
        out << instrument::kFirmwareDownloadFailed << "\n";
        err << image.error << "\n";
        return 1;
    }
    if (const auto refusal = upgrade::refusedFirmware(image, offer, settings, *versions)) {
        out << *refusal << "\n";
        return 1;
    }
    PrintedTransfer printed(out, err);
    const instrument::FirmwareOutcome outcome = instrument::transferFirmware(
        *device, clock, {image.bytes, versions->hardware[1], versions->hardware[0], check.checksum},
        printed);
    out << instrument::firmwareOutcomeText(outcome) << "\n";
    return outcome == instrument::FirmwareOutcome::Burned ? 0 : 1;
}

}  // namespace cli
