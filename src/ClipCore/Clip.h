#pragma once

#include "ClipCore/ReferenceDate.h"
#include "ClipCore/SharedText.h"
#include "ClipCore/Uuid.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

// One item of the clipboard history: a text or an image the user copied, captured or imported.
// Stored as one JSON object whose member names are the field names; optional fields that are
// absent are left out, never written as null.
struct Clip {
    enum class Kind { text, image };

    Uuid id;
    Kind kind = Kind::text;
    std::optional<SharedText> text;        // text clips only; shared by copies of the clip
    std::optional<std::string> imageFile;  // image clips: bare file name inside the history folder
    std::string digest;                    // content fingerprint, the key of deduplication
    std::int64_t byteCount = 0;
    Date createdAt = 0;
    bool pinned = false;
    std::string source;                    // the application the content came from
    std::optional<double> imageScale;      // pixels per point of an image clip
    std::optional<SharedText> ocrText;     // text recognised in an image clip

    Clip() = default;
    // A new clip: a random id, created now (or at `createdAt`), not pinned, no scale, no OCR text.
    Clip(Kind kind, std::optional<SharedText> text, std::optional<std::string> imageFile, std::string digest,
         std::int64_t byteCount, std::string source, Date createdAt = referenceDateNow());

    // The one-line title of list views: for text, the masked text cut to its first 180
    // user-perceived characters (no ellipsis, line breaks kept); for images, "Image · " and
    // the byte count.
    std::string title() const;

    // The JSON object form; throws EncodingError for a non-finite date or scale.
    nlohmann::ordered_json toJSON() const;
    // Reads the JSON object form, ignoring unknown members; throws DecodingError.
    static Clip fromJSON(const nlohmann::ordered_json& object);

    friend bool operator==(const Clip&, const Clip&) = default;
};

inline constexpr std::size_t kClipTitleLength = 180;

std::string_view rawValue(Clip::Kind kind);
std::optional<Clip::Kind> clipKindFromRaw(std::string_view raw);

// The history as compact JSON text (an array of clip objects), and back. Reading fails as a
// whole, with DecodingError, when the text is not JSON, not an array, or any member is bad.
std::string encodeClips(const std::vector<Clip>& clips);
// The same text handed to `sink` in pieces of about a mebibyte as it is made.
void encodeClips(const std::vector<Clip>& clips, const std::function<void(std::string_view)>& sink);
// `padded` promises kDecodePadding readable bytes after the text, which then need not be copied.
inline constexpr std::size_t kDecodePadding = 64;
std::vector<Clip> decodeClips(std::string_view json, bool padded = false);

// decodeClips with the parser's buffers kept in the reader until it ends, so a caller that reads
// a large history can let them go where freeing them holds nothing up. Each text is unescaped
// once, straight into its clip's own string; nothing of the input is kept.
class ClipIndexReader {
public:
    ClipIndexReader();
    ~ClipIndexReader();
    ClipIndexReader(ClipIndexReader&&) noexcept;
    ClipIndexReader& operator=(ClipIndexReader&&) noexcept;

    std::vector<Clip> read(std::string_view json, bool padded = false);

private:
    std::optional<std::vector<Clip>> readFast(std::string_view json, bool padded);
    struct Parser;
    std::unique_ptr<Parser> parser_;
};

}  // namespace brevalto
