#pragma once

#include "Upload/S3Settings.h"

#include <string>

namespace brevalto {

class KeychainAccess;

// Where a destination's S3 keys live in the keychain: a generic password of `service` whose
// account is the destination identity (64 lower-case hex characters), holding the credentials as
// JSON {"accessKey", "secretKey"}.
struct S3Keychain {
    std::string service = defaultService();

    // The app's identifier followed by ".S3".
    static std::string defaultService();

    // Returns the account when the service is 1 to 200 UTF-8 bytes without control characters
    // and the account exactly 64 characters; else throws S3Failure::invalid.
    const std::string& checkLocation(const std::string& account) const;

    // The stored keys. A failed read throws S3Failure::credentials with its status; missing,
    // oversized (over 8192 bytes) or unreadable data throws it with -26275; keys that fail their
    // rule throw their own failure.
    S3Credentials load(KeychainAccess& keychain, const std::string& account) const;
    // Throws the keys' own failure, or S3Failure::credentials with the keychain's status.
    void save(KeychainAccess& keychain, const S3Credentials& credentials, const std::string& account) const;
    // Removes the keys; a missing item counts as removed.
    void remove(KeychainAccess& keychain, const std::string& account) const;
};

}  // namespace brevalto
