#include "upgrade/upgrade_replies.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "instrument/firmware_frames.h"
#include "support/comma_locale.h"

namespace {

TEST(UpgradeReplies, QueriesCarryTheirKeysAndVersions) {
    EXPECT_EQ(upgrade::programQuery(upgrade::UpgradedProgram::Analyzer),
              "/vezu_android_apks/kvdapk?apkname=ufcs_analyse_protocol_app&vercode=100&devid="
              "731845502966214");
    EXPECT_EQ(upgrade::programQuery(upgrade::UpgradedProgram::Recorder),
              "/vezu_android_apks/kvdapk?apkname=UFCS_ANALYSE_vol_cur_test&vercode=100&devid="
              "731845502966214");
    EXPECT_EQ(upgrade::firmwareQuery(0x01, 0x0A, 0x02, 0x1F),
              "/kvd/module_upgrade2?devid=480213657790&mtype=11&modetype=0583&pver=1.a&fver=2.1f");
}

TEST(UpgradeReplies, VersionTexts) {
    EXPECT_EQ(upgrade::newProgramText(105), "最新版本：1.05");
    EXPECT_EQ(upgrade::newProgramText(110), "最新版本：1.0a");
    EXPECT_EQ(upgrade::newProgramText(100), "已是最新版本");
    EXPECT_EQ(upgrade::newProgramText(0), "已是最新版本");
}

TEST(UpgradeReplies, ProgramRepliesAreReadFromTheirStart) {
    const std::string good =
        R"({"id":0,"apkname":"ufcs_analyse_protocol_app","apkvercode":105,"upgradeFlag":1,)"
        R"("apkUrl":"http://h/k512.exe","x":1})";
    const auto analyzerProgram = upgrade::UpgradedProgram::Analyzer;
    upgrade::ProgramCheck check;
    upgrade::readProgramReply(analyzerProgram, good, check);
    EXPECT_EQ(check.latestCode, 105);
    EXPECT_EQ(check.url, "http://h/k512.exe");
    // The recorder's pattern names the recorder.
    upgrade::readProgramReply(upgrade::UpgradedProgram::Recorder, good, check);
    EXPECT_EQ(check.latestCode, 0);

    // Not at the start: no code, but the first apkUrl anywhere is still read.
    upgrade::readProgramReply(analyzerProgram, " " + good, check);
    EXPECT_EQ(check.latestCode, 0);
    EXPECT_EQ(check.url, "http://h/k512.exe");

    // A URL longer than its field is cut to 299 characters; a reply to 1024 bytes.
    const std::string longUrl(5000, 'u');
    upgrade::readProgramReply(analyzerProgram, R"({"apkUrl":")" + longUrl + "\"}", check);
    EXPECT_EQ(check.url.size(), 299u);
    upgrade::readProgramReply(analyzerProgram, std::string(1020, ' ') + R"("apkUrl":"http://late")",
                              check);
    EXPECT_TRUE(check.url.empty());
}

void expectFirmwareRepliesRead() {
    const struct {
        std::string reply;
        int flag;
        std::string version;
        std::string url;
        int checksum;
    } cases[] = {
        {R"({"upgrade":1,"upgradeInfo":{"mtypecode":11,"vercode":1.06,"fwUrl":"http://h/f.bin","checksum":52}})",
         1, "1.06", "http://h/f.bin", 52},
        // A quoted version: its text, but no URL; the checksum of before stays.
        {R"({"upgrade":1,"upgradeInfo":{"mtypecode":11,"vercode":"1.07","fwUrl":"http://h/g.bin"}})",
         1, "\"1.07\"", "", 52},
        // Matching nothing: the flag and checksum keep their earlier values.
        {"<html>404</html>", 1, "", "", 52},
        {R"(garbage "checksum":77)", 1, "", "", 77},
        {R"({"upgrade":0,"upgradeInfo":{"mtypecode":11,"vercode":12345678901234567890123,"fwUrl":"u"}})",
         0, "1234567890123456789", "u", 77},
    };
    upgrade::FirmwareCheck check;
    for (const auto& c : cases) {
        upgrade::readFirmwareReply(c.reply, check);
        EXPECT_EQ(check.upgradeFlag, c.flag) << c.reply;
        EXPECT_EQ(check.versionText, c.version) << c.reply;
        EXPECT_EQ(check.url, c.url) << c.reply;
        EXPECT_EQ(check.checksum, c.checksum) << c.reply;
    }
}

TEST(UpgradeReplies, FirmwareUrlOnlyForAPlainNumberAndTheFlagAndChecksumStay) {
    expectFirmwareRepliesRead();
}

// "vercode":1.06 is a plain number for a German or French user too.
TEST(UpgradeReplies, RepliesReadTheSameUnderACommaLocale) {
    const testing_support::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << testing_support::CommaLocale::kMissing;
    expectFirmwareRepliesRead();
    EXPECT_EQ(upgrade::newProgramText(105), "最新版本：1.05");
}

}  // namespace

namespace {

TEST(FirmwareFrames, PagesHeaderAndChecksum) {
    EXPECT_EQ(instrument::firmwarePageCount(112), 2u);
    EXPECT_EQ(instrument::firmwarePageCount(113), 3u);
    EXPECT_TRUE(instrument::firmwareChecksumMatches(0x1234, 0x34));
    EXPECT_FALSE(instrument::firmwareChecksumMatches(0x1234, 0x1234));

    std::vector<uint8_t> image(113);
    std::iota(image.begin(), image.end(), uint8_t{1});
    const auto header = instrument::firmwareHeaderFrame(image, 0x02, 0x01);
    const uint16_t sum = static_cast<uint16_t>(instrument::firmwareByteSum(image));
    EXPECT_EQ(std::vector<uint8_t>(header.begin(), header.begin() + 21),
              (std::vector<uint8_t>{0,
                                    1,
                                    0x11,
                                    0x11,
                                    4,
                                    0,
                                    0,
                                    0x64,
                                    9,
                                    0,
                                    0,
                                    0,
                                    113,
                                    0,
                                    3,
                                    static_cast<uint8_t>(sum >> 8),
                                    static_cast<uint8_t>(sum),
                                    2,
                                    1,
                                    1,
                                    0}));
    // The last page carries the one byte left, then zeros.
    const auto last = instrument::firmwareDataFrame(image, 3);
    EXPECT_EQ(last[5], 0);
    EXPECT_EQ(last[6], 3);
    EXPECT_EQ(last[9], 113);
    EXPECT_TRUE(
        std::all_of(last.begin() + 10, last.begin() + 65, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(instrument::firmwareDataFrame(image, 2)[9], 57);

    EXPECT_EQ(instrument::pageAcknowledgement(instrument::pageAcknowledgementReply(2).data()), 2);
    device::Report other = instrument::pageAcknowledgementReply(1);
    other[6] = 8;
    EXPECT_FALSE(instrument::pageAcknowledgement(other.data()));
}

}  // namespace
