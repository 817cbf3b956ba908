#pragma once

#include "KeychainItems/KeychainStore.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace brevalto {

// A secret store in memory that counts its calls; `failUpdateWith` makes updates fail.
class MemoryKeychainStore : public KeychainStore {
public:
    KeychainStatus find(const std::string& service, const std::string& account, KeychainData* data) override {
        std::lock_guard lock(mutex_);
        ++calls;
        auto item = items_.find({service, account});
        if (item == items_.end()) return keychainStatus::itemNotFound;
        if (data) *data = item->second;
        return keychainStatus::success;
    }
    KeychainStatus update(const std::string& service, const std::string& account, const KeychainData& data) override {
        std::lock_guard lock(mutex_);
        ++calls;
        if (failUpdateWith) return *failUpdateWith;
        auto item = items_.find({service, account});
        if (item == items_.end()) return keychainStatus::itemNotFound;
        item->second = data;
        return keychainStatus::success;
    }
    KeychainStatus add(const std::string& service, const std::string& account, const KeychainData& data) override {
        std::lock_guard lock(mutex_);
        ++calls;
        ++adds;
        if (!items_.emplace(std::make_pair(service, account), data).second) return keychainStatus::duplicateItem;
        return keychainStatus::success;
    }
    KeychainStatus remove(const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex_);
        ++calls;
        return items_.erase({service, account}) ? keychainStatus::success : keychainStatus::itemNotFound;
    }

    std::optional<KeychainData> item(const std::string& service, const std::string& account) {
        std::lock_guard lock(mutex_);
        auto found = items_.find({service, account});
        if (found == items_.end()) return std::nullopt;
        return found->second;
    }

    int calls = 0;
    int adds = 0;
    std::optional<KeychainStatus> failUpdateWith;

private:
    std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, KeychainData> items_;
};

}  // namespace brevalto
