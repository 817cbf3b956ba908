#pragma once

#include "KeychainItems/KeychainStore.h"

namespace brevalto {

// The desktop's secret store (the Secret Service on the session bus, through libsecret). Items use
// the schema "app.brevalto.GenericPassword" with the attributes "service" and "account"; secrets are
// stored as binary values, and new items go into the default collection. Safe to call from any
// thread; every call talks to the Secret Service afresh.
class SecretServiceStore : public KeychainStore {
public:
    KeychainStatus find(const std::string& service, const std::string& account, KeychainData* data) override;
    KeychainStatus update(const std::string& service, const std::string& account, const KeychainData& data) override;
    KeychainStatus add(const std::string& service, const std::string& account, const KeychainData& data) override;
    KeychainStatus remove(const std::string& service, const std::string& account) override;
};

}  // namespace brevalto
