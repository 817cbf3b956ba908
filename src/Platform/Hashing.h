#pragma once

#include <array>
#include <string>
#include <string_view>

namespace brevalto {

// Digests and message authentication over byte strings. Every caller that needs a hash goes
// through these, so the crypto library stays behind the platform layer.
using Sha256Digest = std::array<unsigned char, 32>;
using Md5Digest = std::array<unsigned char, 16>;

Sha256Digest sha256(std::string_view bytes);
Md5Digest md5(std::string_view bytes);
Sha256Digest hmacSha256(std::string_view key, std::string_view message);

// Lower-case hexadecimal of any byte sequence.
std::string toHex(std::string_view bytes);
template <std::size_t N>
std::string toHex(const std::array<unsigned char, N>& digest) {
    return toHex(std::string_view(reinterpret_cast<const char*>(digest.data()), N));
}
template <std::size_t N>
std::string_view asBytes(const std::array<unsigned char, N>& digest) {
    return std::string_view(reinterpret_cast<const char*>(digest.data()), N);
}

// Standard base64 with padding.
std::string toBase64(std::string_view bytes);

// Fills `size` bytes from the system's secure random generator; false when it fails.
bool secureRandomBytes(unsigned char* out, std::size_t size);

}  // namespace brevalto
