#pragma once
// The update server's queries and what is read from its replies, for the
// program check of both GUI programs and the analyzer's firmware check. The
// replies are matched as the programs always have (a pattern read from the
// start of the reply, the first "apkUrl" and "checksum" anywhere), but every
// field is bounded: a reply can never write past the field it fills.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/version.h"

namespace upgrade {

inline constexpr int kOwnVersionCode = common::kVersionCode;
inline constexpr std::size_t kMostReplyBytes = 1024;
inline constexpr std::size_t kMostUrlCharacters = 299;
inline constexpr std::size_t kMostVersionCharacters = 19;
inline constexpr std::string_view kNoNetwork = "无法获取联网信息";

// Which program asks: each has its own name at the server.
enum class UpgradedProgram { Analyzer, Recorder };
std::string_view serverName(UpgradedProgram program);

// Path and query of the program check ("/vezu_android_apks/kvdapk?...") and
// of the firmware check ("/kvd/module_upgrade2?..."), for the server's address.
std::string programQuery(UpgradedProgram program, int versionCode = kOwnVersionCode);
// pver from the connect reply's bytes 14 and 13, fver from bytes 16 and 17.
std::string firmwareQuery(uint8_t hardwareHigh, uint8_t hardwareLow, uint8_t firmwareHigh,
                          uint8_t firmwareLow);

struct ProgramCheck {
    int latestCode = 0;
    std::string url;
};
// Cleared, then filled from the reply (only the first kMostReplyBytes count).
void readProgramReply(UpgradedProgram program, std::string_view reply, ProgramCheck& check);

// The flag and the checksum keep an earlier reply's values when a reply does not set them.
struct FirmwareCheck {
    int upgradeFlag = 0;
    int moduleType = 0;
    std::string versionText;
    std::string url;
    int checksum = 0;
};
void readFirmwareReply(std::string_view reply, FirmwareCheck& check);

// What the program group's 新版本 label shows after a check that reached the server.
std::string newProgramText(int latestCode);
// "最新版本：1.05": the code's hundreds and remainder, in hexadecimal.
std::string latestVersionText(int latestCode);

}  // namespace upgrade
