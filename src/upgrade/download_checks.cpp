#include "upgrade/download_checks.h"

#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <vector>

#include "common/format.h"

#ifndef UFCS_UPDATE_SERVER
#define UFCS_UPDATE_SERVER ""
#endif
#ifndef UFCS_UPDATE_PUBLIC_KEY
#define UFCS_UPDATE_PUBLIC_KEY ""
#endif

namespace upgrade {
namespace {

constexpr std::size_t kEd25519KeyBytes = 32;
constexpr std::size_t kEd25519SignatureBytes = 64;
constexpr std::size_t kMostSignatureCharacters = 128;
constexpr std::size_t kMostStatementBase64 = 1024;

std::string trimmed(std::string text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// Strict base64 (with padding); nothing for anything else.
std::optional<std::vector<uint8_t>> fromBase64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    std::vector<uint8_t> bytes(text.size() / 4 * 3);
    const int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const uint8_t*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == '=')
        ++padding;
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

// key":"<characters up to the next quote, at most `most`>
std::string quotedAfter(std::string_view reply, std::string_view key, std::size_t most) {
    const std::string lead = std::string(key) + R"(":")";
    const std::size_t found = reply.find(lead);
    if (found == std::string_view::npos) return {};
    const std::size_t from = found + lead.size();
    const std::size_t end = reply.find('"', from);
    if (end == std::string_view::npos || end - from > most) return {};
    return std::string(reply.substr(from, end - from));
}

using KeyPointer = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

KeyPointer ed25519Key(std::string_view publicKey) {
    const auto raw = fromBase64(publicKey);
    if (!raw || raw->size() != kEd25519KeyBytes) return {nullptr, EVP_PKEY_free};
    return {EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw->data(), raw->size()),
            EVP_PKEY_free};
}

}  // namespace

UpgradeSettings loadUpgradeSettings(const common::Profile& profile) {
    return {trimmed(profile.readString("Upgrade", "Server", UFCS_UPDATE_SERVER)),
            trimmed(profile.readString("Upgrade", "PublicKey", UFCS_UPDATE_PUBLIC_KEY))};
}

std::string serverUrl(const UpgradeSettings& settings, std::string_view pathAndQuery) {
    if (settings.server.empty()) return {};
    std::string url = settings.server;
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    if (url.find("://") == std::string::npos) url.insert(0, "http://");
    return url + std::string(pathAndQuery);
}

std::string statementText(const ReleaseStatement& statement) {
    return "ufcs-release 1\nname " + statement.name + "\nversion " + statement.version + "\nsize " +
           std::to_string(statement.size) + "\nsha256 " + statement.sha256 + "\n";
}

std::optional<ReleaseStatement> parseStatement(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) return std::nullopt;  // every line ends
        lines.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    const char* keys[] = {"name ", "version ", "size ", "sha256 "};
    if (lines.size() != 5 || lines[0] != "ufcs-release 1") return std::nullopt;
    for (std::size_t i = 0; i < 4; ++i) {
        if (!lines[i + 1].starts_with(keys[i]) || lines[i + 1].size() == std::strlen(keys[i]))
            return std::nullopt;
        lines[i + 1].erase(0, std::strlen(keys[i]));
    }
    ReleaseStatement statement{lines[1], lines[2], 0, lines[4]};
    const std::optional<double> size = common::parseNumber(lines[3]);
    if (!size || *size < 0 || *size > 1e15 || *size != static_cast<double>(uint64_t(*size)) ||
        lines[3].find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    statement.size = static_cast<uint64_t>(*size);
    if (statementText(statement) != text) return std::nullopt;  // canonical only
    return statement;
}

DownloadIntegrity readIntegrity(std::string_view reply) {
    DownloadIntegrity integrity{quotedAfter(reply, "\"sha256", 64),
                                {},
                                quotedAfter(reply, "\"signature", kMostSignatureCharacters)};
    if (const auto statement = fromBase64(quotedAfter(reply, "\"statement", kMostStatementBase64)))
        integrity.statement.assign(statement->begin(), statement->end());
    return integrity;
}

std::optional<std::string> refusedScheme(std::string_view url) {
    if (url.starts_with("http://") || url.starts_with("https://")) return std::nullopt;
    return "下载地址不是 http:// 或 https:// 地址，已拒绝：" + std::string(url.substr(0, 299));
}

std::string sha256Hex(std::span<const uint8_t> bytes) {
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned i = 0; i < length; ++i)
        common::appendFormat(hex, "%02x", digest[i]);
    return hex;
}

bool publicKeyUsable(std::string_view publicKey) {
    return ed25519Key(publicKey) != nullptr;
}

bool signatureVerifies(std::span<const uint8_t> bytes, std::string_view signature,
                       std::string_view publicKey) {
    const KeyPointer key = ed25519Key(publicKey);
    const auto raw = fromBase64(signature);
    if (!key || !raw || raw->size() != kEd25519SignatureBytes) return false;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    return context &&
           EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), raw->data(), raw->size(), bytes.data(), bytes.size()) ==
               1;
}

std::optional<std::string> refusalOf(const DownloadOffer& offer) {
    const DownloadIntegrity& integrity = offer.integrity;
    if (!integrity.sha256.empty()) {
        std::string expected = integrity.sha256;
        for (char& c : expected)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (expected != sha256Hex(offer.bytes)) return "下载文件的 SHA-256 校验值不符，已丢弃";
    }
    if (offer.offeredCode && *offer.offeredCode <= offer.runningCode)
        return common::format("提供的版本 %d 不比当前版本 %d 新，已拒绝", *offer.offeredCode,
                              offer.runningCode);
    if (offer.publicKey.empty()) return std::nullopt;
    if (!publicKeyUsable(offer.publicKey))
        return "设置的升级公钥无效（应为 32 字节 Ed25519 公钥的 base64），已拒绝升级";
    if (integrity.signature.empty() || integrity.statement.empty())
        return "升级信息缺少签名声明，已拒绝";
    const std::span<const uint8_t> signedBytes(
        reinterpret_cast<const uint8_t*>(integrity.statement.data()), integrity.statement.size());
    if (!signatureVerifies(signedBytes, integrity.signature, offer.publicKey))
        return "升级声明的签名无效，已拒绝";
    const std::optional<ReleaseStatement> statement = parseStatement(integrity.statement);
    if (!statement) return "升级声明的格式不对，已拒绝";
    // What was signed must be what was offered, and what came.
    if (statement->name != offer.name)
        return "签名声明的是 " + statement->name + "，不是 " + offer.name + "，已拒绝";
    if (statement->version != offer.version)
        return "签名声明的版本是 " + statement->version + "，服务器却说是 " + offer.version +
               "，已拒绝";
    if (statement->size != offer.bytes.size() || statement->sha256 != sha256Hex(offer.bytes))
        return "下载的文件不是签名声明的那个文件，已拒绝";
    return std::nullopt;
}

std::string unsignedWarning(std::string_view server) {
    return "没有设置升级公钥，无法核对这个下载的签名：任何能冒充升级服务器 " + std::string(server) +
           " 或在网络途中的人，都可以换成别的程序。\n只在信任这个服务器和网络时才继续。";
}

}  // namespace upgrade
