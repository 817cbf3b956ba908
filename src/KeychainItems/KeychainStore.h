#pragma once

#include "KeychainItems/KeychainStatus.h"

#include <string>

namespace brevalto {

// The secret store that holds the app's generic-password items, each named by a service and an
// account string. Implementations answer with keychain status codes and never throw: the desktop's
// Secret Service (SecretServiceStore), and an in-memory one in the tests.
class KeychainStore {
public:
    virtual ~KeychainStore() = default;

    // Finds the item. With `data`, also copies its bytes there. 0 when found, -25300 when not.
    virtual KeychainStatus find(const std::string& service, const std::string& account, KeychainData* data) = 0;
    // Replaces the data of the existing item(s); -25300 when there is none.
    virtual KeychainStatus update(const std::string& service, const std::string& account, const KeychainData& data) = 0;
    // Adds a new item.
    virtual KeychainStatus add(const std::string& service, const std::string& account, const KeychainData& data) = 0;
    // Removes the item(s); -25300 when there was none.
    virtual KeychainStatus remove(const std::string& service, const std::string& account) = 0;
};

}  // namespace brevalto
