#pragma once
// The steps of both upgrades that do not depend on a window: asking the
// update server, reading what it offers into the labels' texts, and deciding
// whether a finished download may be used. The window and the command line
// fetch (each its own way) and run these on what they fetched. The server's
// replies are kept in memory: nothing else reads them.

#include <filesystem>
#include <optional>
#include <string>

#include "instrument/firmware_transfer.h"
#include "upgrade/download_checks.h"
#include "upgrade/fetch.h"
#include "upgrade/upgrade_replies.h"

namespace upgrade {

// Replies are read into a 1024-byte buffer; a server may send more, which is not read.
inline constexpr std::size_t kMostFetchedReplyBytes = 64 * 1024;

// "当前版本：1.00 "
std::string currentProgramText();
inline constexpr std::string_view kProgramNotReached = "最新版本：无法获取联网信息";
inline constexpr std::string_view kFirmwareNotReached = "最新软件版本：无法获取联网信息";

// The downloaded files and the updater's arguments, one per program.
std::string_view downloadName(UpgradedProgram program);     // "k512.exe", "k512_cur.exe"
std::string_view updaterArgument(UpgradedProgram program);  // "k512 protocol", "k512 Cur_Test"

struct ProgramOffer {
    bool reached = false;  // the query's download succeeded
    std::string name;      // the program's query name, which its release statement names
    ProgramCheck check;
    DownloadIntegrity integrity;
    std::string label;   // what the 新版本 label shows
    bool newer = false;  // the 升级 button is shown
};
// The request of the program query; an empty URL when no server is set.
FetchRequest programQueryRequest(UpgradedProgram program, const UpgradeSettings& settings);
ProgramOffer readProgramOffer(UpgradedProgram program, const FetchResult& reply);

struct FirmwareOffer {
    bool reached = false;
    std::string version;  // as the reply offers it
    DownloadIntegrity integrity;
    std::string label;     // 新版本 label
    bool upgrade = false;  // the 升级 button is shown
};
FetchRequest firmwareQueryRequest(const instrument::InstrumentVersions& versions,
                                  const UpgradeSettings& settings);
// `check` keeps the flag and the checksum of earlier replies.
FirmwareOffer readFirmwareOffer(const FetchResult& reply, FirmwareCheck& check);

// Nothing when the program's own folder takes the download and the swap; else what to
// tell the user before anything is downloaded. A packaged install lives in a folder its
// user cannot write, and is upgraded with the system's packages.
std::optional<std::string> programFolderRefusal(const std::filesystem::path& folder);
// The program download goes to `target` (beside the program, under its
// hand-over name) by way of `target`.part, where an interrupted one resumes.
FetchRequest programDownloadRequest(const ProgramOffer& offer, const std::filesystem::path& target);
// Checks the finished download and moves it to `target`; the message when it
// is refused (the download is then deleted).
std::optional<std::string> acceptProgramDownload(const FetchResult& download,
                                                 const ProgramOffer& offer,
                                                 const UpgradeSettings& settings,
                                                 const std::filesystem::path& target);

FetchRequest firmwareDownloadRequest(const FirmwareCheck& check);
// Also refused: firmware that is not newer than what the instrument runs.
std::optional<std::string> refusedFirmware(const FetchResult& download, const FirmwareOffer& offer,
                                           const UpgradeSettings& settings,
                                           const instrument::InstrumentVersions& running);

// Runs a request, or fails it at once when it has no URL (no server set).
FetchResult fetchOrFail(const Fetcher& fetcher, const FetchRequest& request,
                        const FetchProgress& progress = {});

}  // namespace upgrade
