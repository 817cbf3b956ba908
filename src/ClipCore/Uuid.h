#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brevalto {

// A 128-bit identifier. New ones are random (version 4). Written as upper-case canonical text
// ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"); parsed in any letter case, but only in the plain
// 36-character hyphenated form: braces, "urn:uuid:" prefixes and missing hyphens are refused.
class Uuid {
public:
    Uuid() = default;  // the nil UUID
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);

    std::string string() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
    bool isNil() const;

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace brevalto

template <>
struct std::hash<brevalto::Uuid> {
    std::size_t operator()(const brevalto::Uuid& id) const noexcept;
};
