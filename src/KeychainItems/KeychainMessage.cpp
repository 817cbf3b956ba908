#include "KeychainItems/KeychainMessage.h"

#include <algorithm>
#include <cstring>

namespace brevalto {

namespace {

constexpr char marker[4] = {'B', 'K', 'M', '1'};
constexpr std::uint8_t replyExpectedFlag = 0x01;

enum Type : std::uint8_t { stringType = 1, int64Type = 2, dataType = 3 };

bool validKey(std::string_view key) {
    if (key.empty() || key.size() > KeychainMessage::maxKeyBytes) return false;
    return std::all_of(key.begin(), key.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

void putUint(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

class Reader {
public:
    Reader(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    bool uint(int count, std::uint64_t& value) {
        if (left() < static_cast<std::size_t>(count)) return false;
        value = 0;
        for (int i = 0; i < count; ++i) value = (value << 8) | bytes_[at_++];
        return true;
    }
    bool take(std::size_t count, const std::uint8_t*& start) {
        if (left() < count) return false;
        start = bytes_ + at_;
        at_ += count;
        return true;
    }
    std::size_t left() const { return size_ - at_; }

private:
    const std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

const KeychainValue* KeychainMessage::find(std::string_view key) const {
    for (const auto& [name, value] : entries_)
        if (name == key) return &value;
    return nullptr;
}

const std::string* KeychainMessage::string(std::string_view key) const {
    const KeychainValue* value = find(key);
    return value ? std::get_if<std::string>(value) : nullptr;
}

const std::int64_t* KeychainMessage::int64(std::string_view key) const {
    const KeychainValue* value = find(key);
    return value ? std::get_if<std::int64_t>(value) : nullptr;
}

const KeychainData* KeychainMessage::data(std::string_view key) const {
    const KeychainValue* value = find(key);
    return value ? std::get_if<KeychainData>(value) : nullptr;
}

bool KeychainMessage::contains(std::string_view key) const { return find(key) != nullptr; }

void KeychainMessage::set(std::string_view key, KeychainValue value) {
    for (auto& [name, current] : entries_) {
        if (name == key) {
            current = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::string(key), std::move(value));
}

std::optional<std::vector<std::uint8_t>> KeychainMessage::encode() const {
    if (entries_.size() > maxEntries) return std::nullopt;
    std::vector<std::uint8_t> out(std::begin(marker), std::end(marker));
    out.push_back(expectsReply ? replyExpectedFlag : 0);
    out.push_back(static_cast<std::uint8_t>(entries_.size()));
    for (const auto& [key, value] : entries_) {
        if (!validKey(key)) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(key.size()));
        out.insert(out.end(), key.begin(), key.end());
        if (const auto* text = std::get_if<std::string>(&value)) {
            if (text->size() > maxStringBytes) return std::nullopt;
            out.push_back(stringType);
            putUint(out, text->size(), 4);
            out.insert(out.end(), text->begin(), text->end());
        } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
            out.push_back(int64Type);
            putUint(out, static_cast<std::uint64_t>(*number), 8);
        } else {
            const auto& bytes = std::get<KeychainData>(value);
            if (bytes.size() > maxFrameBytes) return std::nullopt;
            out.push_back(dataType);
            putUint(out, bytes.size(), 4);
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
        if (out.size() > maxFrameBytes) return std::nullopt;
    }
    return out;
}

std::optional<KeychainMessage> KeychainMessage::decode(const std::uint8_t* bytes, std::size_t size) {
    if (size > maxFrameBytes) return std::nullopt;
    Reader reader(bytes, size);
    const std::uint8_t* head = nullptr;
    if (!reader.take(sizeof marker, head) || std::memcmp(head, marker, sizeof marker) != 0) return std::nullopt;
    std::uint64_t flags = 0, count = 0;
    if (!reader.uint(1, flags) || (flags & ~std::uint64_t{replyExpectedFlag}) != 0) return std::nullopt;
    if (!reader.uint(1, count) || count > maxEntries) return std::nullopt;

    KeychainMessage message;
    message.expectsReply = (flags & replyExpectedFlag) != 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t keySize = 0, type = 0;
        const std::uint8_t* keyBytes = nullptr;
        if (!reader.uint(1, keySize) || !reader.take(keySize, keyBytes)) return std::nullopt;
        std::string key(reinterpret_cast<const char*>(keyBytes), keySize);
        if (!validKey(key) || message.contains(key)) return std::nullopt;
        if (!reader.uint(1, type)) return std::nullopt;
        if (type == int64Type) {
            std::uint64_t number = 0;
            if (!reader.uint(8, number)) return std::nullopt;
            message.entries_.emplace_back(std::move(key), static_cast<std::int64_t>(number));
            continue;
        }
        if (type != stringType && type != dataType) return std::nullopt;
        std::uint64_t length = 0;
        const std::uint8_t* start = nullptr;
        if (!reader.uint(4, length) || !reader.take(length, start)) return std::nullopt;
        if (type == stringType) {
            if (length > maxStringBytes) return std::nullopt;
            message.entries_.emplace_back(std::move(key), std::string(reinterpret_cast<const char*>(start), length));
        } else {
            message.entries_.emplace_back(std::move(key), KeychainData(start, start + length));
        }
    }
    if (reader.left() != 0) return std::nullopt;
    return message;
}

}  // namespace brevalto
