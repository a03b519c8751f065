#pragma once
// A fresh Ed25519 key for tests: its public half in base64 (as the programs'
// setting takes it) and base64 signatures by its private half.

#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

inline std::string base64(const uint8_t* bytes, std::size_t size) {
    std::string text(4 * ((size + 2) / 3) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        EVP_EncodeBlock(reinterpret_cast<uint8_t*>(text.data()), bytes, static_cast<int>(size))));
    return text;
}

class Ed25519Signer {
  public:
    Ed25519Signer() {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
        EVP_PKEY_keygen_init(context);
        EVP_PKEY_keygen(context, &key_);
        EVP_PKEY_CTX_free(context);
    }
    ~Ed25519Signer() { EVP_PKEY_free(key_); }
    Ed25519Signer(const Ed25519Signer&) = delete;
    Ed25519Signer& operator=(const Ed25519Signer&) = delete;

    std::string publicKey() const {
        uint8_t raw[32];
        std::size_t length = sizeof raw;
        EVP_PKEY_get_raw_public_key(key_, raw, &length);
        return base64(raw, length);
    }
    std::string sign(const void* bytes, std::size_t size) const {
        uint8_t signature[64];
        std::size_t length = sizeof signature;
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key_);
        EVP_DigestSign(context, signature, &length, static_cast<const uint8_t*>(bytes), size);
        EVP_MD_CTX_free(context);
        return base64(signature, length);
    }
    std::string sign(const std::vector<uint8_t>& bytes) const {
        return sign(bytes.data(), bytes.size());
    }

  private:
    EVP_PKEY* key_ = nullptr;
};

}  // namespace testing_support
