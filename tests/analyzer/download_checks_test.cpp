#include "analyzer/download_checks.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/ed25519_signer.h"

namespace {

using analyzer::DownloadOffer;

using Signer = testing_support::Ed25519Signer;

TEST(DownloadChecks, RefusesWhatDoesNotMatchItsReply) {
    const Signer signer, stranger;
    const std::vector<uint8_t> bytes = {'n', 'e', 'w', 0, 1, 2};
    std::vector<uint8_t> tampered = bytes;
    tampered.back() ^= 1;
    const std::string sha = analyzer::sha256Hex(bytes);
    const std::string good = signer.sign(bytes);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        analyzer::DownloadIntegrity integrity;
        std::string key;
        std::optional<int> offered;
        const char* refusal;  // nullptr: accepted
    };
    const Case cases[] = {
        {"nothing to check", bytes, {}, "", std::nullopt, nullptr},
        {"matching sha256 (either case)",
         bytes,
         {[&] {
              std::string upper = sha;
              for (char& c : upper)
                  c = char(std::toupper(c));
              return upper;
          }(),
          ""},
         "",
         std::nullopt,
         nullptr},
        {"tampered bytes", tampered, {sha, ""}, "", std::nullopt, "SHA-256"},
        {"signed", bytes, {"", good}, signer.publicKey(), 105, nullptr},
        {"signature missing", bytes, {sha, ""}, signer.publicKey(), 105, "缺少签名"},
        {"tampered and signed", tampered, {"", good}, signer.publicKey(), 105, "签名无效"},
        {"someone else's key", bytes, {"", good}, stranger.publicKey(), 105, "签名无效"},
        {"signature not base64", bytes, {"", "@@@@"}, signer.publicKey(), 105, "签名无效"},
        {"replayed old release", bytes, {"", good}, signer.publicKey(), 100, "不比当前版本"},
        {"bad configured key", bytes, {"", good}, "c2hvcnQ=", 105, "公钥无效"},
    };
    for (const Case& c : cases) {
        const auto refusal =
            analyzer::refusalOf(DownloadOffer{c.bytes, c.integrity, c.key, c.offered, 100});
        if (!c.refusal) {
            EXPECT_FALSE(refusal) << c.what << ": " << *refusal;
        } else {
            ASSERT_TRUE(refusal) << c.what;
            EXPECT_NE(refusal->find(c.refusal), std::string::npos) << c.what << ": " << *refusal;
        }
    }
}

TEST(DownloadChecks, ReadsTheIntegrityFieldsBounded) {
    const auto read =
        analyzer::readIntegrity(R"({"apkUrl":"x","sha256":"ab12","signature":"c2ln"})");
    EXPECT_EQ(read.sha256, "ab12");
    EXPECT_EQ(read.signature, "c2ln");
    const std::string longHash = R"({"sha256":")" + std::string(65, 'a') + "\"}";
    EXPECT_EQ(analyzer::readIntegrity(longHash).sha256, "");
    EXPECT_EQ(analyzer::readIntegrity(R"({"sha256":"abc)").sha256, "");
}

TEST(DownloadChecks, ServerAddressAndSchemes) {
    common::MemoryProfile profile;
    EXPECT_EQ(analyzer::serverUrl(analyzer::loadUpgradeSettings(profile), "/kvd"), "");
    profile.writeString("Upgrade", "Server", " 192.168.1.20:8080/ ");
    EXPECT_EQ(analyzer::serverUrl(analyzer::loadUpgradeSettings(profile), "/kvd?a=1"),
              "http://192.168.1.20:8080/kvd?a=1");
    EXPECT_FALSE(analyzer::refusedScheme("https://example.org/k512.exe"));
    EXPECT_TRUE(analyzer::refusedScheme("file:///etc/passwd"));
    EXPECT_TRUE(analyzer::refusedScheme("ftp://example.org/x"));
}

}  // namespace
