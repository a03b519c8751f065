#pragma once
// The reply fields that vouch for a release: its statement, as the programs
// check it, and a signature over that statement.

#include <cstdint>
#include <span>
#include <string>

#include "support/ed25519_signer.h"
#include "upgrade/download_checks.h"

namespace testing_support {

// `,"statement":"…","signature":"…"`, for appending inside a reply's object.
inline std::string signedReleaseFields(const Ed25519Signer& signer, const std::string& name,
                                       const std::string& version, std::span<const uint8_t> bytes) {
    const std::string statement =
        upgrade::statementText({name, version, bytes.size(), upgrade::sha256Hex(bytes)});
    return ",\"statement\":\"" +
           base64(reinterpret_cast<const uint8_t*>(statement.data()), statement.size()) +
           "\",\"signature\":\"" + signer.sign(statement.data(), statement.size()) + "\"";
}

}  // namespace testing_support
