#include "ClipCore/ByteSearch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brevalto::bytesearch {

std::size_t findPair(std::string_view text, std::size_t from, char first, std::string_view second) {
    const char* data = text.data();
    const std::size_t size = text.size();
    if (second.empty()) return std::string_view::npos;
    const char s0 = second[0];
    const char s1 = second.size() > 1 ? second[1] : second[0];
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i f = _mm_set1_epi8(first);
    const __m128i a = _mm_set1_epi8(s0);
    const __m128i b = _mm_set1_epi8(s1);
    // Each step looks at 16 starting positions, reading one byte past them.
    while (i + 17 <= size) {
        __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(here, f),
                                    _mm_or_si128(_mm_cmpeq_epi8(next, a), _mm_cmpeq_epi8(next, b)));
        int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        i += 16;
    }
#endif
    for (; i + 1 < size; ++i) {
        if (data[i] == first && (data[i + 1] == s0 || data[i + 1] == s1)) return i;
    }
    return std::string_view::npos;
}

}  // namespace brevalto::bytesearch
