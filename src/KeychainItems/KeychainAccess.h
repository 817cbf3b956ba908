#pragma once

#include "KeychainItems/KeychainStatus.h"

#include <string>

namespace brevalto {

// The four keychain operations as the app's features call them, whatever carries them (the
// keychain service program or this process). Every operation answers with a status, never throws,
// and may block its caller.
class KeychainAccess {
public:
    virtual ~KeychainAccess() = default;
    virtual KeychainReadResult keychainRead(const std::string& service, const std::string& account) = 0;
    virtual KeychainStatus keychainExists(const std::string& service, const std::string& account) = 0;
    virtual KeychainStatus keychainDelete(const std::string& service, const std::string& account) = 0;
    virtual KeychainStatus keychainSave(const KeychainData& data, const std::string& service,
                                        const std::string& account) = 0;
};

}  // namespace brevalto
