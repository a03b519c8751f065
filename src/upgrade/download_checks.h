#pragma once
// What makes a download safe to hand over or to flash: the update server's
// address and the public key the programs trust (settings), the size caps,
// the SHA-256 and Ed25519 signature a reply may carry, and the test that an
// offer is newer than what runs. A download that fails any test is refused
// with a message that says why; nothing of it is used.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/profile.h"

namespace upgrade {

inline constexpr std::size_t kMostProgramBytes = 64u << 20;
inline constexpr std::size_t kMostFirmwareBytes = 1u << 20;

// Profile section "Upgrade": "Server" (http://host:port) and "PublicKey" (a
// raw 32-byte Ed25519 key in base64); the build's defaults stand in for
// missing keys.
struct UpgradeSettings {
    std::string server;
    std::string publicKey;
};
UpgradeSettings loadUpgradeSettings(const common::Profile& profile);
// The server's address and a query path as one URL; empty without a server.
std::string serverUrl(const UpgradeSettings& settings, std::string_view pathAndQuery);

// What a release's signature vouches for: which program or firmware, which
// version, and the file's size and SHA-256. The text signed is canonical:
//   ufcs-release 1\nname NAME\nversion VERSION\nsize BYTES\nsha256 HEX\n
struct ReleaseStatement {
    std::string name;     // the program's query name, or kFirmwareReleaseName
    std::string version;  // as the reply offers it: "101", "1.6"
    uint64_t size = 0;
    std::string sha256;  // lower-case hexadecimal
};
inline constexpr std::string_view kFirmwareReleaseName = "firmware-0583";
std::string statementText(const ReleaseStatement& statement);
// Nothing for anything but a canonical statement.
std::optional<ReleaseStatement> parseStatement(std::string_view text);

// "sha256":"<64 hex digits>", "statement":"<base64 of the statement text>" and
// "signature":"<base64 Ed25519 signature over the statement text>", each from
// its first key anywhere in the reply; empty when absent.
struct DownloadIntegrity {
    std::string sha256;
    std::string statement;  // decoded
    std::string signature;
};
DownloadIntegrity readIntegrity(std::string_view reply);

// Only http:// and https:// downloads are fetched; the message when not.
std::optional<std::string> refusedScheme(std::string_view url);

// The reasons a whole download is refused, checked in this order. With a
// key, the signed statement must name exactly what was offered and what came.
struct DownloadOffer {
    std::span<const uint8_t> bytes;
    DownloadIntegrity integrity;
    std::string publicKey;           // base64; empty: no signature to check (see unsignedWarning)
    std::string name;                // what the statement must name
    std::string version;             // the version the reply offers, as it gives it
    std::optional<int> offeredCode;  // programs: the offered code, which must be newer
    int runningCode = 0;
};
std::optional<std::string> refusalOf(const DownloadOffer& offer);

// Without a key nothing vouches for a download: what the user is told before
// agreeing to one from `server`.
std::string unsignedWarning(std::string_view server);

// Lower-case hexadecimal SHA-256 of `bytes`.
std::string sha256Hex(std::span<const uint8_t> bytes);
// Whether `signature` (base64) is an Ed25519 signature of `bytes` by `publicKey` (base64).
bool signatureVerifies(std::span<const uint8_t> bytes, std::string_view signature,
                       std::string_view publicKey);
// An invalid key makes every signature fail; this tells the user why.
bool publicKeyUsable(std::string_view publicKey);

}  // namespace upgrade
