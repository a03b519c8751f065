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

namespace analyzer {

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

// "sha256":"<64 hex digits>" and "signature":"<base64>", each from its first
// key anywhere in the reply; empty when absent.
struct DownloadIntegrity {
    std::string sha256;
    std::string signature;
};
DownloadIntegrity readIntegrity(std::string_view reply);

// Only http:// and https:// downloads are fetched; the message when not.
std::optional<std::string> refusedScheme(std::string_view url);

// The reasons a whole download is refused, checked in this order.
struct DownloadOffer {
    std::span<const uint8_t> bytes;
    DownloadIntegrity integrity;
    std::string publicKey;           // base64; empty: signatures not required
    std::optional<int> offeredCode;  // the version the reply offers, when it has one
    int runningCode = 0;
};
std::optional<std::string> refusalOf(const DownloadOffer& offer);

// Lower-case hexadecimal SHA-256 of `bytes`.
std::string sha256Hex(std::span<const uint8_t> bytes);
// Whether `signature` (base64) is an Ed25519 signature of `bytes` by `publicKey` (base64).
bool signatureVerifies(std::span<const uint8_t> bytes, std::string_view signature,
                       std::string_view publicKey);
// An invalid key makes every signature fail; this tells the user why.
bool publicKeyUsable(std::string_view publicKey);

}  // namespace analyzer
