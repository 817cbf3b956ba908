#include "ClipCore/ByteCountFormat.h"

#include <array>

namespace brevalto {

namespace {

struct Unit {
    const char* name;
    unsigned __int128 size;
    int decimals;
};

constexpr unsigned __int128 kK = 1000;
constexpr std::array<Unit, 6> kUnits = {{
    {"KB", kK, 0},
    {"MB", kK * kK, 1},
    {"GB", kK * kK * kK, 2},
    {"TB", kK * kK * kK * kK, 2},
    {"PB", kK * kK * kK * kK * kK, 2},
    {"EB", kK * kK * kK * kK * kK * kK, 2},
}};

std::string digits(unsigned __int128 value) {
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return s;
}

}  // namespace

std::string formatByteCount(std::int64_t bytes) {
    // The magnitude of the most negative value does not fit an int64: work unsigned and wide.
    bool negative = bytes < 0;
    unsigned __int128 magnitude = negative ? static_cast<unsigned __int128>(-(bytes + 1)) + 1
                                           : static_cast<unsigned __int128>(bytes);
    std::string sign = negative ? "-" : "";
    if (magnitude < kK) return sign + digits(magnitude) + (magnitude == 1 ? " byte" : " bytes");

    for (std::size_t i = 0; i < kUnits.size(); ++i) {
        const Unit& unit = kUnits[i];
        unsigned __int128 scale = 1;
        for (int d = 0; d < unit.decimals; ++d) scale *= 10;
        // Value in hundredths (or tenths, or wholes) of the unit, rounded half up.
        unsigned __int128 scaled = (magnitude * scale * 2 + unit.size) / (unit.size * 2);
        // 999,950 bytes round to "1000 KB": show the next unit instead.
        if (scaled >= kK * scale && i + 1 < kUnits.size()) continue;
        std::string whole = digits(scaled / scale);
        std::string fraction;
        if (unit.decimals > 0) {
            fraction = digits(scaled % scale);
            fraction.insert(fraction.begin(), static_cast<std::size_t>(unit.decimals) - fraction.size(), '0');
            while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
        }
        return sign + whole + (fraction.empty() ? "" : "." + fraction) + " " + unit.name;
    }
    return sign + digits(magnitude) + " bytes";  // not reached: EB holds every int64
}

}  // namespace brevalto
