#include "Platform/HttpClient.h"

#include <algorithm>

namespace brevalto {

namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool sameHeaderName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

std::optional<std::string> findHeader(const HttpHeaders& headers, std::string_view name) {
    for (const auto& [key, value] : headers)
        if (sameHeaderName(key, name)) return value;
    return std::nullopt;
}

void setHeader(HttpHeaders& headers, std::string_view name, std::string value) {
    removeHeader(headers, name);
    headers.emplace_back(std::string(name), std::move(value));
}

void removeHeader(HttpHeaders& headers, std::string_view name) {
    std::erase_if(headers, [&](const auto& entry) { return sameHeaderName(entry.first, name); });
}

}  // namespace brevalto
