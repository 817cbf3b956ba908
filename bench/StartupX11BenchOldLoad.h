#pragma once

// The history's load as it stood before the index was mapped, kept as the baseline that the
// start-up benchmark measures the store's load against in the same run: the whole file read into
// a zero-filled string, parsed into a document whose strings are unescaped into the parser's own
// buffer, every text copied out of it into its clip, and the buffers freed on the calling thread.
#include "ClipCore/Clip.h"

#include <simdjson.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <malloc.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brevalto::bench::oldload {

inline std::string readWhole(const std::filesystem::path& path, std::uint64_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) throw std::runtime_error("Could not open " + path.string());
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        throw std::runtime_error("Could not read " + path.string());
    }
    std::string data;
    data.reserve(static_cast<std::size_t>(st.st_size) + 64);
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    char extra;
    const bool grew = got == static_cast<std::size_t>(st.st_size) && ::read(fd, &extra, 1) > 0;
    ::close(fd);
    if (grew) throw std::runtime_error("File too large: " + path.string());
    return data;
}

// counts as missing, and of repeated members the last counts, as with the general reader.
std::optional<std::vector<Clip>> fastDecodeClips(std::string_view text, bool padded) {
    // No deeper than the general reader allows (it refuses more than 513 open containers).
    static constexpr std::size_t kDepth = 512;
    simdjson::dom::parser parser(text.size() + 1);
    if (parser.allocate(text.size(), kDepth) != simdjson::SUCCESS) return std::nullopt;
    simdjson::dom::element root;
    if (parser.parse(text.data(), text.size(), !padded).get(root) != simdjson::SUCCESS) return std::nullopt;
    simdjson::dom::array array;
    if (root.get_array().get(array) != simdjson::SUCCESS) return std::nullopt;

    auto string = [](simdjson::dom::element value) -> std::optional<std::string> {
        std::string_view view;
        if (value.get_string().get(view) != simdjson::SUCCESS) return std::nullopt;
        return std::string(view);
    };
    // A number as the general reader converts it to a double.
    auto number = [](simdjson::dom::element value) -> std::optional<double> {
        switch (value.type()) {
        case simdjson::dom::element_type::INT64: return double(std::int64_t(value));
        case simdjson::dom::element_type::UINT64: return double(std::uint64_t(value));
        case simdjson::dom::element_type::DOUBLE: return double(value);
        default: return std::nullopt;
        }
    };
    // An integer as the general reader takes it: a whole number within 64 bits.
    auto integer = [](simdjson::dom::element value) -> std::optional<std::int64_t> {
        switch (value.type()) {
        case simdjson::dom::element_type::INT64: return std::int64_t(value);
        case simdjson::dom::element_type::UINT64: {
            const std::uint64_t u = value;
            if (u <= std::uint64_t(INT64_MAX)) return std::int64_t(u);
            return std::nullopt;
        }
        case simdjson::dom::element_type::DOUBLE: {
            const double d = value;
            if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
                return std::int64_t(d);
            return std::nullopt;
        }
        default: return std::nullopt;
        }
    };

    std::vector<Clip> clips;
    clips.reserve(array.size());
    for (simdjson::dom::element item : array) {
        simdjson::dom::object object;
        if (item.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
        enum Member { id, kind, text, imageFile, digest, byteCount, createdAt, pinned, source, imageScale, ocrText, count };
        static constexpr std::string_view kNames[count] = {"id",        "kind",   "text",      "imageFile",
                                                           "digest",    "byteCount", "createdAt", "pinned",
                                                           "source",    "imageScale", "ocrText"};
        std::optional<simdjson::dom::element> members[count];
        for (simdjson::dom::key_value_pair field : object) {
            for (int m = 0; m < count; ++m) {
                if (field.key != kNames[m]) continue;
                if (field.value.is_null())
                    members[m].reset();
                else
                    members[m] = field.value;
            }
        }
        Clip clip;
        for (int m : {id, kind, digest, byteCount, createdAt, pinned, source})
            if (!members[m]) return std::nullopt;
        const auto idText = string(*members[id]);
        const auto parsedId = idText ? Uuid::parse(*idText) : std::nullopt;
        if (!parsedId) return std::nullopt;
        clip.id = *parsedId;
        const auto kindText = string(*members[kind]);
        const auto parsedKind = kindText ? clipKindFromRaw(*kindText) : std::nullopt;
        if (!parsedKind) return std::nullopt;
        clip.kind = *parsedKind;
        if (members[text]) {
            auto value = string(*members[text]);
            if (!value) return std::nullopt;
            clip.text = SharedText(std::move(*value));
        }
        if (members[imageFile]) {
            clip.imageFile = string(*members[imageFile]);
            if (!clip.imageFile) return std::nullopt;
        }
        auto digestText = string(*members[digest]);
        const auto bytes = integer(*members[byteCount]);
        const auto created = number(*members[createdAt]);
        bool pinnedValue = false;
        auto sourceText = string(*members[source]);
        if (!digestText || !bytes || !created || members[pinned]->get_bool().get(pinnedValue) != simdjson::SUCCESS ||
            !sourceText)
            return std::nullopt;
        clip.digest = std::move(*digestText);
        clip.byteCount = *bytes;
        clip.createdAt = *created;
        clip.pinned = pinnedValue;
        clip.source = std::move(*sourceText);
        if (members[imageScale]) {
            clip.imageScale = number(*members[imageScale]);
            if (!clip.imageScale) return std::nullopt;
        }
        if (members[ocrText]) {
            auto value = string(*members[ocrText]);
            if (!value) return std::nullopt;
            clip.ocrText = SharedText(std::move(*value));
        }
        clips.push_back(std::move(clip));
    }
    return clips;
}


// The clips of the index in `folder`, read as the store read them; the index text and the
// parser are freed before it returns.
inline std::vector<Clip> load(const std::filesystem::path& folder) {
    std::vector<Clip> clips;
    {
        const std::string text = readWhole(folder / "history.json", 2ull * 1024 * 1024 * 1024);
        auto fast = fastDecodeClips(text, text.capacity() - text.size() >= kDecodePadding);
        clips = fast ? std::move(*fast) : decodeClips(text);
    }
    std::erase_if(clips, [](const Clip& clip) { return clip.imageFile.has_value() || clip.kind != Clip::Kind::text; });
    ::malloc_trim(0);
    return clips;
}

}  // namespace brevalto::bench::oldload
