#include "KeychainItems/KeychainItems.h"

namespace brevalto {

KeychainStatus KeychainItems::exists(const std::string& service, const std::string& account) const {
    return store_.find(service, account, nullptr);
}

KeychainReadResult KeychainItems::read(const std::string& service, const std::string& account) const {
    KeychainData data;
    KeychainStatus status = store_.find(service, account, &data);
    if (status != keychainStatus::success) return {status, std::nullopt};
    return {status, std::move(data)};
}

KeychainStatus KeychainItems::save(const KeychainData& data, const std::string& service,
                                   const std::string& account) const {
    // An existing item keeps everything but its data; only a missing one is added.
    KeychainStatus status = store_.update(service, account, data);
    if (status != keychainStatus::itemNotFound) return status;
    return store_.add(service, account, data);
}

KeychainStatus KeychainItems::deleteItem(const std::string& service, const std::string& account) const {
    return store_.remove(service, account);
}

void KeychainItems::handle(const KeychainMessage& request, KeychainMessage& reply) const {
    auto answer = [&reply](KeychainStatus status) { reply.set("status", static_cast<std::int64_t>(status)); };

    const std::string* op = request.string("op");
    const std::string* service = request.string("service");
    const std::string* account = request.string("account");
    if (!op || !service || !account) return answer(keychainStatus::param);
    if (!service->starts_with(servicePrefix)) return answer(keychainStatus::param);

    if (*op == "exists") return answer(exists(*service, *account));
    if (*op == "read") {
        KeychainReadResult result = read(*service, *account);
        answer(result.status);
        if (result.data) setPayload(*result.data, reply);
        return;
    }
    if (*op == "save") {
        std::optional<KeychainData> data = payload(request);
        if (!data) return answer(keychainStatus::param);
        return answer(save(*data, *service, *account));
    }
    if (*op == "delete") return answer(deleteItem(*service, *account));
    answer(keychainStatus::param);
}

std::optional<KeychainData> KeychainItems::payload(const KeychainMessage& message) {
    const KeychainData* data = message.data("data");
    if (!data || data->empty() || data->size() > maxSize) return std::nullopt;
    return *data;
}

void KeychainItems::setPayload(const KeychainData& data, KeychainMessage& message) {
    if (data.empty() || data.size() > maxSize) return;
    message.set("data", data);
}

}  // namespace brevalto
