#pragma once

#include <cstdint>
#include <string>

namespace brevalto {

// A byte count in the file-size style: decimal units (1 KB = 1000 bytes), "0 bytes", "1 byte",
// "999 bytes", "12 KB", "1.5 MB", "2.25 GB". Kilobytes are whole, megabytes keep one decimal,
// larger units two; trailing zero decimals are dropped and rounding is half up, done in integers
// so the text is the same everywhere.
std::string formatByteCount(std::int64_t bytes);

}  // namespace brevalto
