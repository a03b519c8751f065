#include "upgrade/download_checks.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/file_save.h"
#include "support/ed25519_signer.h"
#include "support/test_folder.h"
#include "upgrade/upgrade_flow.h"

namespace {

using upgrade::DownloadOffer;

using Signer = testing_support::Ed25519Signer;

// With a key, the signature covers a statement of what is offered: the name,
// the version, the size and the SHA-256; each must match.
TEST(DownloadChecks, RefusesWhatDoesNotMatchItsSignedStatement) {
    const Signer signer, stranger;
    const std::vector<uint8_t> bytes = {'n', 'e', 'w', 0, 1, 2};
    std::vector<uint8_t> tampered = bytes;
    tampered.back() ^= 1;
    const std::string sha = upgrade::sha256Hex(bytes);
    const std::string program = "ufcs_analyse_protocol_app";
    const auto statement = [&](std::string name, std::string version, uint64_t size,
                               std::string hash) {
        return upgrade::statementText({std::move(name), std::move(version), size, std::move(hash)});
    };
    const std::string good = statement(program, "105", bytes.size(), sha);
    const auto signedBy = [](const Signer& who, const std::string& text) {
        return upgrade::DownloadIntegrity{"", text, who.sign(text.data(), text.size())};
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        upgrade::DownloadIntegrity integrity;
        std::string key;
        int offered;
        const char* refusal;  // nullptr: accepted
    };
    const Case cases[] = {
        {"unsigned, no key", bytes, {}, "", 105, nullptr},
        {"matching sha256 (either case)",
         bytes,
         {[&] {
              std::string upper = sha;
              for (char& c : upper)
                  c = char(std::toupper(c));
              return upper;
          }(),
          "", ""},
         "",
         105,
         nullptr},
        {"tampered bytes", tampered, {sha, "", ""}, "", 105, "SHA-256"},
        {"signed", bytes, signedBy(signer, good), signer.publicKey(), 105, nullptr},
        {"statement missing",
         bytes,
         {sha, "", signer.sign(bytes)},
         signer.publicKey(),
         105,
         "缺少签名声明"},
        {"someone else's key", bytes, signedBy(stranger, good), signer.publicKey(), 105,
         "签名无效"},
        {"tampered file", tampered, signedBy(signer, good), signer.publicKey(), 105,
         "不是签名声明的那个文件"},
        {"an old signed release announced as 999", bytes, signedBy(signer, good),
         signer.publicKey(), 999, "签名声明的版本是 105，服务器却说是 999"},
        {"another program's release", bytes,
         signedBy(signer, statement("UFCS_ANALYSE_vol_cur_test", "105", bytes.size(), sha)),
         signer.publicKey(), 105, "签名声明的是 UFCS_ANALYSE_vol_cur_test"},
        {"another size", bytes, signedBy(signer, statement(program, "105", bytes.size() + 1, sha)),
         signer.publicKey(), 105, "不是签名声明的那个文件"},
        {"not canonical", bytes, signedBy(signer, good + "extra\n"), signer.publicKey(), 105,
         "格式不对"},
        {"signature not base64", bytes, {"", good, "@@@@"}, signer.publicKey(), 105, "签名无效"},
        {"not newer, even signed", bytes,
         signedBy(signer, statement(program, "100", bytes.size(), sha)), signer.publicKey(), 100,
         "不比当前版本"},
        {"bad configured key", bytes, signedBy(signer, good), "c2hvcnQ=", 105, "公钥无效"},
    };
    for (const Case& c : cases) {
        const auto refusal = upgrade::refusalOf(DownloadOffer{
            c.bytes, c.integrity, c.key, program, std::to_string(c.offered), c.offered, 100});
        if (!c.refusal) {
            EXPECT_FALSE(refusal) << c.what << ": " << *refusal;
        } else {
            ASSERT_TRUE(refusal) << c.what;
            EXPECT_NE(refusal->find(c.refusal), std::string::npos) << c.what << ": " << *refusal;
        }
    }
}

TEST(DownloadChecks, StatementsAreReadOnlyInTheirCanonicalForm) {
    const upgrade::ReleaseStatement statement{"firmware-0583", "1.6", 3150, std::string(64, 'a')};
    const std::string text = upgrade::statementText(statement);
    EXPECT_EQ(text, "ufcs-release 1\nname firmware-0583\nversion 1.6\nsize 3150\nsha256 " +
                        std::string(64, 'a') + "\n");
    const auto read = upgrade::parseStatement(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->version, "1.6");
    EXPECT_EQ(read->size, 3150u);
    for (const std::string& bad :
         {text.substr(0, text.size() - 1), "x" + text, text + "\n",
          std::string("ufcs-release 1\nname a\nversion 1\nsize -3\nsha256 b\n"),
          std::string("ufcs-release 1\nname a\nversion 1\nsize 03\nsha256 b\n"),
          std::string("ufcs-release 1\nname \nversion 1\nsize 3\nsha256 b\n")})
        EXPECT_FALSE(upgrade::parseStatement(bad)) << bad;
}

TEST(DownloadChecks, ReadsTheIntegrityFieldsBounded) {
    const auto read = upgrade::readIntegrity(
        R"({"apkUrl":"x","sha256":"ab12","statement":"dWZjcw==","signature":"c2ln"})");
    EXPECT_EQ(read.sha256, "ab12");
    EXPECT_EQ(read.statement, "ufcs");
    EXPECT_EQ(read.signature, "c2ln");
    const std::string longHash = R"({"sha256":")" + std::string(65, 'a') + "\"}";
    EXPECT_EQ(upgrade::readIntegrity(longHash).sha256, "");
    EXPECT_EQ(upgrade::readIntegrity(R"({"sha256":"abc)").sha256, "");
}

TEST(DownloadChecks, ServerAddressAndSchemes) {
    common::MemoryProfile profile;
    EXPECT_EQ(upgrade::serverUrl(upgrade::loadUpgradeSettings(profile), "/kvd"), "");
    profile.writeString("Upgrade", "Server", " 192.168.1.20:8080/ ");
    EXPECT_EQ(upgrade::serverUrl(upgrade::loadUpgradeSettings(profile), "/kvd?a=1"),
              "http://192.168.1.20:8080/kvd?a=1");
    EXPECT_FALSE(upgrade::refusedScheme("https://example.org/k512.exe"));
    EXPECT_TRUE(upgrade::refusedScheme("file:///etc/passwd"));
    EXPECT_TRUE(upgrade::refusedScheme("ftp://example.org/x"));
}

}  // namespace

// A program upgrade is refused before it downloads anything when the program's folder
// cannot take the new executable: a packaged install, a folder that is gone. The probe
// leaves nothing behind in a folder that can.
TEST(ProgramFolder, AnUnwritableFolderIsToldBeforeAnyDownload) {
    testing_support::TestFolder folder("program_folder_test");
    EXPECT_FALSE(upgrade::programFolderRefusal(folder.path()));
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));

    std::ofstream(folder.path() / "a-file") << "x";
    for (const std::filesystem::path& refused :
         {folder.path() / "gone", folder.path() / "a-file"}) {
        const auto told = upgrade::programFolderRefusal(refused);
        ASSERT_TRUE(told) << refused;
        EXPECT_NE(told->find(common::displayPath(refused)), std::string::npos) << *told;
        EXPECT_NE(told->find("软件包"), std::string::npos) << *told;
    }
#ifndef _WIN32
    if (geteuid() == 0) GTEST_SKIP() << "root writes into a read-only folder";
    const std::filesystem::path installed = folder.path() / "installed";
    std::filesystem::create_directory(installed);
    std::filesystem::permissions(
        installed, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_TRUE(upgrade::programFolderRefusal(installed));
    std::filesystem::permissions(installed, std::filesystem::perms::owner_all);
#endif
}
