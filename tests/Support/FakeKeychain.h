#pragma once

#include "KeychainItems/KeychainAccess.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace brevalto {

// Keychain operations over a map, with statuses that can be forced per operation.
class FakeKeychain final : public KeychainAccess {
public:
    KeychainReadResult keychainRead(const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex_);
        if (readStatus) return {*readStatus, readData};
        auto item = items_.find({service, account});
        if (item == items_.end()) return {keychainStatus::itemNotFound, std::nullopt};
        return {keychainStatus::success, item->second};
    }
    KeychainStatus keychainExists(const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex_);
        if (existsStatus) return *existsStatus;
        return items_.count({service, account}) ? keychainStatus::success : keychainStatus::itemNotFound;
    }
    KeychainStatus keychainDelete(const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex_);
        if (deleteStatus) return *deleteStatus;
        return items_.erase({service, account}) ? keychainStatus::success : keychainStatus::itemNotFound;
    }
    KeychainStatus keychainSave(const KeychainData& data, const std::string& service,
                                const std::string& account) override {
        std::lock_guard lock(mutex_);
        if (saveStatus) return *saveStatus;
        items_[{service, account}] = data;
        return keychainStatus::success;
    }

    void put(const std::string& service, const std::string& account, const std::string& text) {
        std::lock_guard lock(mutex_);
        items_[{service, account}] = KeychainData(text.begin(), text.end());
    }
    std::optional<std::string> text(const std::string& service, const std::string& account) const {
        std::lock_guard lock(mutex_);
        auto item = items_.find({service, account});
        if (item == items_.end()) return std::nullopt;
        return std::string(item->second.begin(), item->second.end());
    }

    // Forced answers (set before the operations run).
    std::optional<KeychainStatus> readStatus, existsStatus, deleteStatus, saveStatus;
    std::optional<KeychainData> readData;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, KeychainData> items_;
};

}  // namespace brevalto
