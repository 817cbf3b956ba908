#include "Upload/S3Keychain.h"

#include "KeychainItems/KeychainAccess.h"
#include "Upload/S3Failure.h"

namespace brevalto {

namespace {

constexpr KeychainStatus decodeFailure = -26275;
constexpr std::size_t maxItemSize = 8192;

// Characters of UTF-8 text, or none when a byte is a control character (C0, DEL or C1).
std::optional<std::size_t> countCharacters(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f) return std::nullopt;
        if (byte == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9f) return std::nullopt;
        if ((byte & 0xc0) != 0x80) ++count;
    }
    return count;
}

}  // namespace

std::string S3Keychain::defaultService() { return "app.brevalto.S3"; }

const std::string& S3Keychain::checkLocation(const std::string& account) const {
    const auto serviceCharacters = countCharacters(service);
    if (service.empty() || service.size() > 200 || !serviceCharacters || countCharacters(account) != 64u)
        throw S3Failure::invalid("Invalid keyring service or account.");
    return account;
}

S3Credentials S3Keychain::load(KeychainAccess& keychain, const std::string& account) const {
    checkLocation(account);
    const KeychainReadResult result = keychain.keychainRead(service, account);
    if (result.status != keychainStatus::success) throw S3Failure::credentials(result.status);
    if (!result.data || result.data->size() > maxItemSize) throw S3Failure::credentials(decodeFailure);
    S3Credentials credentials;
    try {
        const std::string_view text(reinterpret_cast<const char*>(result.data->data()), result.data->size());
        credentials = S3Credentials::fromJson(json::parse(text));
    } catch (const DecodingError&) {
        throw S3Failure::credentials(decodeFailure);
    }
    credentials.validate();
    return credentials;
}

void S3Keychain::save(KeychainAccess& keychain, const S3Credentials& credentials, const std::string& account) const {
    credentials.validate();
    const std::string text = credentials.toJson().dump();
    checkLocation(account);
    const KeychainStatus status = keychain.keychainSave(KeychainData(text.begin(), text.end()), service, account);
    if (status != keychainStatus::success) throw S3Failure::credentials(status);
}

void S3Keychain::remove(KeychainAccess& keychain, const std::string& account) const {
    checkLocation(account);
    const KeychainStatus status = keychain.keychainDelete(service, account);
    if (status != keychainStatus::success && status != keychainStatus::itemNotFound)
        throw S3Failure::credentials(status);
}

}  // namespace brevalto
