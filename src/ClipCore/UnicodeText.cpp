#include "ClipCore/UnicodeText.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>

namespace brevalto::unicode {

// A UTF-8 sequence is at most four bytes, so both work on a small window (ICU's macros take
// 32-bit offsets).
Decoded decodeAt(std::string_view text, std::size_t offset) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data() + offset);
    std::int32_t length = static_cast<std::int32_t>(std::min<std::size_t>(text.size() - offset, 4));
    std::int32_t i = 0;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    return {c, offset + static_cast<std::size_t>(i)};
}

Decoded decodeBefore(std::string_view text, std::size_t offset) {
    std::size_t base = offset > 4 ? offset - 4 : 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data() + base);
    std::int32_t i = static_cast<std::int32_t>(offset - base);
    UChar32 c;
    U8_PREV(bytes, 0, i, c);
    return {c, base + static_cast<std::size_t>(i)};
}

bool isWhiteSpace(std::int32_t codePoint) { return codePoint >= 0 && u_isUWhiteSpace(codePoint); }

std::string_view trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        Decoded d = decodeAt(text, begin);
        if (!isWhiteSpace(d.codePoint)) break;
        begin = d.next;
    }
    std::size_t end = text.size();
    while (end > begin) {
        Decoded d = decodeBefore(text, end);
        if (!isWhiteSpace(d.codePoint)) break;
        end = d.next;
    }
    return text.substr(begin, end - begin);
}

namespace {

struct UTextCloser {
    void operator()(UText* t) const { utext_close(t); }
};

// One character break iterator per thread: creating one loads rule data, cloning is cheaper
// but still costly for every title.
icu::BreakIterator* characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) it.reset();
        return it;
    }();
    return iterator.get();
}

}  // namespace

std::string_view graphemePrefix(std::string_view text, std::size_t count) {
    if (count == 0) return {};
    // Every cluster takes at least one byte, so a text this short holds at most `count` of them.
    if (text.size() <= count) return text;
    // Break offsets are 32-bit; a prefix of a few clusters never needs more.
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) text = text.substr(0, INT32_MAX);
    icu::BreakIterator* iterator = characterIterator();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, UTextCloser> utext(
        utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status));
    if (!iterator || U_FAILURE(status)) {
        // Without ICU data fall back to code points, never to a cut inside a sequence.
        std::size_t offset = 0;
        for (std::size_t n = 0; n < count && offset < text.size(); ++n) offset = decodeAt(text, offset).next;
        return text.substr(0, offset);
    }
    iterator->setText(utext.get(), status);
    std::int32_t end = 0;
    for (std::size_t n = 0; n < count; ++n) {
        std::int32_t next = iterator->next();
        if (next == icu::BreakIterator::DONE) {
            end = static_cast<std::int32_t>(text.size());
            break;
        }
        end = next;
    }
    // Do not keep the iterator pointing at the caller's bytes.
    iterator->setText(icu::UnicodeString());
    return text.substr(0, static_cast<std::size_t>(end));
}

}  // namespace brevalto::unicode
