#pragma once

#include <optional>
#include <string>

namespace brevalto {

// One entry of a model list: the model ID that requests name, and its display name when the
// service gave one.
struct AIModel {
    std::string id;
    std::optional<std::string> name;
    friend bool operator==(const AIModel&, const AIModel&) = default;
};

}  // namespace brevalto
