#pragma once

#include "KeychainItems/KeychainAccess.h"

#include <map>
#include <string>
#include <utility>

namespace brevalto {

// Keychain operations over a map of items (one thread); `forced` makes an operation ("read",
// "exists", "delete", "save") answer a status of its own and change nothing (a read brings no data).
class FakeKeychain final : public KeychainAccess {
public:
    KeychainReadResult keychainRead(const std::string& service, const std::string& account) override {
        auto item = items.find({service, account});
        if (forced.count("read") || item == items.end()) return {answer("read", false), std::nullopt};
        return {keychainStatus::success, item->second};
    }
    KeychainStatus keychainExists(const std::string& service, const std::string& account) override {
        return answer("exists", items.count({service, account}) > 0);
    }
    KeychainStatus keychainDelete(const std::string& service, const std::string& account) override {
        return answer("delete", !forced.count("delete") && items.erase({service, account}) > 0);
    }
    KeychainStatus keychainSave(const KeychainData& data, const std::string& service, const std::string& account) override {
        if (!forced.count("save")) items[{service, account}] = data;
        return answer("save", true);
    }
    void put(const std::string& service, const std::string& account, const std::string& text) {
        items[{service, account}] = KeychainData(text.begin(), text.end());
    }

    std::map<std::string, KeychainStatus> forced;
    std::map<std::pair<std::string, std::string>, KeychainData> items;

private:
    KeychainStatus answer(const std::string& op, bool found) {
        if (forced.count(op)) return forced[op];
        return found ? keychainStatus::success : keychainStatus::itemNotFound;
    }
};

}  // namespace brevalto
