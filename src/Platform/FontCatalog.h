#pragma once

#include <string>

namespace brevalto {

// Which font families text may be drawn in. A family counts as installed when a font of that
// family is installed or the font configuration has an alias rule that maps the name onto an
// installed family ("Helvetica" onto a metric-compatible sans). A name that reaches only the
// generic fallback every unknown name gets does not count. Safe on any thread; answers are
// remembered for the life of the process.
bool isFontFamilyInstalled(const std::string& family);

}  // namespace brevalto
