#include "Platform/Hashing.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace brevalto {

namespace {

template <std::size_t N>
std::array<unsigned char, N> digest(const EVP_MD* type, std::string_view bytes) {
    std::array<unsigned char, N> out{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, type, nullptr) != 1 || length != N)
        throw std::runtime_error("Digest failed.");
    return out;
}

}  // namespace

Sha256Digest sha256(std::string_view bytes) { return digest<32>(EVP_sha256(), bytes); }

Md5Digest md5(std::string_view bytes) { return digest<16>(EVP_md5(), bytes); }

Sha256Digest hmacSha256(std::string_view key, std::string_view message) {
    Sha256Digest out{};
    unsigned int length = 0;
    const auto* result = HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
                              reinterpret_cast<const unsigned char*>(message.data()), message.size(), out.data(),
                              &length);
    if (result == nullptr || length != out.size()) throw std::runtime_error("HMAC failed.");
    return out;
}

std::string toHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(kDigits[c >> 4]);
        out.push_back(kDigits[c & 0x0F]);
    }
    return out;
}

std::string toBase64(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3), '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                        reinterpret_cast<const unsigned char*>(bytes.data()),
                                        static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(written));
    return out;
}

bool secureRandomBytes(unsigned char* out, std::size_t size) {
    return size <= 0x7fffffff && RAND_bytes(out, static_cast<int>(size)) == 1;
}

}  // namespace brevalto
