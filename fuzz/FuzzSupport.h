#pragma once

// What every fuzz target shares: a property check that stops the run as a finding, and the
// input as text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <typeinfo>

namespace brevalto::fuzz {

// A broken property is a finding like a crash: libFuzzer saves the input and the run fails.
[[noreturn]] inline void fail(std::string_view what) {
    std::fprintf(stderr, "fuzz property broken: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

inline void check(bool holds, std::string_view what) {
    if (!holds) fail(what);
}

// An exception that is not the decoder's own error type.
[[noreturn]] inline void unexpected(const std::exception& error) {
    std::string what = std::string("unexpected exception ") + typeid(error).name() + ": " + error.what();
    fail(what);
}

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace brevalto::fuzz
