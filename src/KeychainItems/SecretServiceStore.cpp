#include "KeychainItems/SecretServiceStore.h"

#include <functional>

#include <libsecret/secret.h>

namespace brevalto {

namespace {

// Items of this schema only: the schema name is stored with each item and matched on lookup.
const SecretSchema& schema() {
    static const SecretSchema value = {
        "app.brevalto.GenericPassword",
        SECRET_SCHEMA_NONE,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, {}}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return value;
}

// The Secret Service's failures and the status each one answers:
//
//   failure                                                   status
//   nothing matched (no error)                                -25300 item not found
//   SECRET_ERROR_NO_SUCH_OBJECT (the item went away)          -25300 item not found
//   SECRET_ERROR_ALREADY_EXISTS                               -25299 duplicate item
//   SECRET_ERROR_IS_LOCKED (the collection stayed locked,     -25308 interaction not allowed
//     e.g. its unlock prompt was dismissed), or a read that
//     finds the item but no secret (no error)
//   G_IO_ERROR_CANCELLED (the prompt or call was cancelled)   -128   user canceled
//   no Secret Service on the bus: no session bus, nobody      -25291 no keychain available
//     owns the name, it cannot be activated
//   other D-Bus failures (time-out, no reply, disconnect)     -36    I/O error
//   anything else (protocol errors, bad replies)              -2070  internal component
//   a service or account that is not UTF-8 without NULs      -50    bad parameter
//     (the bus carries only such strings)
//
// The keychain's accessibility classes have no equivalent here: a Secret Service collection is
// readable whenever it is unlocked, so new items are stored without one.
KeychainStatus statusFor(const GError* error) {
    if (!error) return keychainStatus::itemNotFound;
    if (error->domain == SECRET_ERROR) {
        switch (error->code) {
        case SECRET_ERROR_NO_SUCH_OBJECT: return keychainStatus::itemNotFound;
        case SECRET_ERROR_ALREADY_EXISTS: return keychainStatus::duplicateItem;
        case SECRET_ERROR_IS_LOCKED: return keychainStatus::interactionNotAllowed;
        default: return keychainStatus::internalComponent;
        }
    }
    if (error->domain == G_IO_ERROR) {
        if (error->code == G_IO_ERROR_CANCELLED) return keychainStatus::userCanceled;
        if (error->code == G_IO_ERROR_NOT_FOUND || error->code == G_IO_ERROR_NOT_SUPPORTED)
            return keychainStatus::notAvailable;  // no session bus address
        return keychainStatus::io;
    }
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_NO_SERVER:
        case G_DBUS_ERROR_FILE_NOT_FOUND:
        case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
        case G_DBUS_ERROR_SPAWN_FORK_FAILED:
        case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
        case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
        case G_DBUS_ERROR_SPAWN_FAILED:
        case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
        case G_DBUS_ERROR_UNKNOWN_METHOD:
        case G_DBUS_ERROR_UNKNOWN_OBJECT:
        case G_DBUS_ERROR_UNKNOWN_INTERFACE: return keychainStatus::notAvailable;
        default: return keychainStatus::io;
        }
    }
    return keychainStatus::internalComponent;
}

bool validText(const std::string& text) {
    return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) && text.find('\0') == std::string::npos;
}

// The result of one libsecret call, freeing the error on the way.
class Call {
public:
    Call() = default;
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    ~Call() { g_clear_error(&error_); }
    GError** error() { return &error_; }
    bool failed() const { return error_ != nullptr; }
    KeychainStatus status() const { return statusFor(error_); }

private:
    GError* error_ = nullptr;
};

SecretValue* newValue(const KeychainData& data) {
    // libsecret copies the bytes; "application/octet-stream" marks a binary secret.
    return secret_value_new(reinterpret_cast<const gchar*>(data.data()), static_cast<gssize>(data.size()),
                            "application/octet-stream");
}

// Every item of our schema with this service and account, in any collection; locked ones are
// unlocked first (which may ask the user).
GList* matchingItems(const std::string& service, const std::string& account, SecretSearchFlags flags, Call& call) {
    SecretService* secretService = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, call.error());
    if (!secretService) return nullptr;
    GHashTable* attributes =
        secret_attributes_build(&schema(), "service", service.c_str(), "account", account.c_str(), nullptr);
    GList* items = secret_service_search_sync(secretService, &schema(), attributes, flags, nullptr, call.error());
    g_hash_table_unref(attributes);
    g_object_unref(secretService);
    return items;
}

// Runs change on every matching item, unlocking locked ones first (which may ask the user): the
// Secret Service changes and deletes only unlocked items, and one left locked must not read as
// changed or removed. Stops at the first failure; none matching is "not found".
KeychainStatus changeEachItem(const std::string& service, const std::string& account,
                              const std::function<gboolean(SecretItem*, GError**)>& change) {
    Call call;
    GList* items = matchingItems(service, account,
                                 static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK), call);
    if (call.failed()) {
        g_list_free_full(items, g_object_unref);
        return call.status();
    }
    if (!items) return keychainStatus::itemNotFound;
    KeychainStatus status = keychainStatus::success;
    for (GList* item = items; item && status == keychainStatus::success; item = item->next) {
        Call each;
        if (!change(SECRET_ITEM(item->data), each.error()))
            status = each.failed() ? each.status() : keychainStatus::internalComponent;
    }
    g_list_free_full(items, g_object_unref);
    return status;
}

}  // namespace

KeychainStatus SecretServiceStore::find(const std::string& service, const std::string& account, KeychainData* data) {
    if (!validText(service) || !validText(account)) return keychainStatus::param;
    Call call;
    if (!data) {
        // Telling whether the item exists needs neither its secret nor an unlocked collection.
        GList* items = secret_password_search_sync(&schema(), SECRET_SEARCH_NONE, nullptr, call.error(), "service",
                                                   service.c_str(), "account", account.c_str(), nullptr);
        if (call.failed()) return call.status();
        const bool found = items != nullptr;
        g_list_free_full(items, g_object_unref);
        return found ? keychainStatus::success : keychainStatus::itemNotFound;
    }
    SecretValue* value = secret_password_lookup_binary_sync(&schema(), nullptr, call.error(), "service",
                                                            service.c_str(), "account", account.c_str(), nullptr);
    if (!value) {
        if (call.failed()) return call.status();
        // No error and no secret: either nothing matches, or the item stays locked because its
        // collection could not be unlocked. A locked item is never reported as missing.
        const KeychainStatus found = find(service, account, nullptr);
        return found == keychainStatus::success ? keychainStatus::interactionNotAllowed : found;
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    const auto* start = reinterpret_cast<const std::uint8_t*>(bytes);
    data->assign(start, start + length);
    secret_value_unref(value);
    return keychainStatus::success;
}

KeychainStatus SecretServiceStore::update(const std::string& service, const std::string& account,
                                          const KeychainData& data) {
    if (!validText(service) || !validText(account)) return keychainStatus::param;
    SecretValue* value = newValue(data);
    const KeychainStatus status = changeEachItem(service, account, [value](SecretItem* item, GError** error) {
        return secret_item_set_secret_sync(item, value, nullptr, error);
    });
    secret_value_unref(value);
    return status;
}

KeychainStatus SecretServiceStore::add(const std::string& service, const std::string& account,
                                       const KeychainData& data) {
    if (!validText(service) || !validText(account)) return keychainStatus::param;
    Call call;
    SecretValue* value = newValue(data);
    const std::string label = "Brevalto: " + service + " / " + account;
    const gboolean stored =
        secret_password_store_binary_sync(&schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value, nullptr,
                                          call.error(), "service", service.c_str(), "account", account.c_str(), nullptr);
    secret_value_unref(value);
    if (stored) return keychainStatus::success;
    return call.failed() ? call.status() : keychainStatus::internalComponent;
}

KeychainStatus SecretServiceStore::remove(const std::string& service, const std::string& account) {
    if (!validText(service) || !validText(account)) return keychainStatus::param;
    return changeEachItem(service, account, [](SecretItem* item, GError** error) {
        return secret_item_delete_sync(item, nullptr, error);
    });
}

}  // namespace brevalto
