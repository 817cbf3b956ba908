#include "Platform/Defaults.h"

#include "Platform/AtomicFile.h"

#include <QByteArray>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace brevalto {

namespace {

constexpr std::uint64_t kMaxFileBytes = 64ull * 1024 * 1024;
constexpr const char* kDataMember = "$data";

std::string key(std::string_view k) { return std::string(k); }

double leadingNumber(const std::string& s) {
    const char* begin = s.c_str();
    char* end = nullptr;
    const double v = std::strtod(begin, &end);
    return end == begin || !std::isfinite(v) ? 0.0 : v;
}

std::int64_t leadingInteger(const std::string& s) {
    const char* begin = s.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE) return 0;
    return v;
}

std::int64_t truncated(double d) {
    if (!std::isfinite(d)) return 0;
    if (d >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    if (d <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

}  // namespace

Defaults::Defaults() = default;

Defaults::Defaults(std::filesystem::path file) : file_(std::move(file)) {
    std::error_code ec;
    if (!std::filesystem::exists(*file_, ec)) return;
    try {
        const auto text = AtomicFile::read(*file_, kMaxFileBytes);
        auto parsed = Value::parse(text);
        if (!parsed.is_object()) throw std::runtime_error("not an object");
        // The top level is the dictionary of settings, never a data value, whatever its members.
        Value values = Value::object();
        for (auto it = parsed.begin(); it != parsed.end(); ++it) values[it.key()] = fromFileForm(it.value());
        values_ = std::move(values);
    } catch (const std::exception&) {
        auto aside = *file_;
        aside += ".corrupt";
        std::filesystem::rename(*file_, aside, ec);
        values_ = Value::object();
    }
}

Defaults::~Defaults() = default;

std::optional<Defaults::Value> Defaults::object(std::string_view k) const {
    const auto name = key(k);
    if (auto it = values_.find(name); it != values_.end()) return *it;
    if (auto it = registered_.find(name); it != registered_.end()) return *it;
    return std::nullopt;
}

void Defaults::set(std::string_view k, Value value) {
    values_[key(k)] = std::move(value);
    save();
    emit changed(QString::fromUtf8(k.data(), static_cast<qsizetype>(k.size())));
}

void Defaults::setData(std::string_view k, std::string_view bytes) {
    set(k, Value::binary(Value::binary_t::container_type(bytes.begin(), bytes.end())));
}

void Defaults::remove(std::string_view k) {
    if (values_.erase(key(k)) == 0) return;
    save();
    emit changed(QString::fromUtf8(k.data(), static_cast<qsizetype>(k.size())));
}

std::vector<std::string> Defaults::keys() const {
    std::vector<std::string> keys;
    for (auto it = values_.begin(); it != values_.end(); ++it) keys.push_back(it.key());
    return keys;
}

void Defaults::registerDefaults(const Value& dictionary) {
    if (!dictionary.is_object()) return;
    for (auto it = dictionary.begin(); it != dictionary.end(); ++it) registered_[it.key()] = it.value();
}

bool Defaults::boolValue(std::string_view k) const {
    const auto v = object(k);
    if (!v) return false;
    if (v->is_boolean()) return v->get<bool>();
    if (v->is_number_integer()) return v->get<std::int64_t>() != 0;
    if (v->is_number()) return v->get<double>() != 0.0;
    if (v->is_string()) {
        const auto& s = v->get_ref<const std::string&>();
        if (s.empty()) return false;
        if (s[0] == 'Y' || s[0] == 'y' || s[0] == 'T' || s[0] == 't') return true;
        return leadingInteger(s) != 0;
    }
    return false;
}

std::int64_t Defaults::integer(std::string_view k) const {
    const auto v = object(k);
    if (!v) return 0;
    if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
    if (v->is_number_unsigned()) {
        const auto u = v->get<std::uint64_t>();
        return u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                   ? std::numeric_limits<std::int64_t>::max()
                   : static_cast<std::int64_t>(u);
    }
    if (v->is_number_integer()) return v->get<std::int64_t>();
    if (v->is_number_float()) return truncated(v->get<double>());
    if (v->is_string()) return leadingInteger(v->get_ref<const std::string&>());
    return 0;
}

double Defaults::doubleValue(std::string_view k) const {
    const auto v = object(k);
    if (!v) return 0.0;
    if (v->is_boolean()) return v->get<bool>() ? 1.0 : 0.0;
    if (v->is_number()) return v->get<double>();
    if (v->is_string()) return leadingNumber(v->get_ref<const std::string&>());
    return 0.0;
}

std::optional<std::string> Defaults::string(std::string_view k) const {
    const auto v = object(k);
    if (!v) return std::nullopt;
    if (v->is_string()) return v->get<std::string>();
    if (v->is_number_integer() || v->is_number_unsigned()) return v->dump();
    if (v->is_number_float()) {
        const double d = v->get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e15)
            return std::to_string(static_cast<std::int64_t>(d));
        return v->dump();
    }
    return std::nullopt;
}

std::optional<std::string> Defaults::data(std::string_view k) const {
    const auto v = object(k);
    if (!v || !v->is_binary()) return std::nullopt;
    const auto& bytes = v->get_binary();
    return std::string(bytes.begin(), bytes.end());
}

std::optional<Defaults::Value> Defaults::array(std::string_view k) const {
    auto v = object(k);
    if (!v || !v->is_array()) return std::nullopt;
    return v;
}

std::optional<Defaults::Value> Defaults::dictionary(std::string_view k) const {
    auto v = object(k);
    if (!v || !v->is_object()) return std::nullopt;
    return v;
}

std::optional<bool> Defaults::storedBool(std::string_view k) const {
    const auto v = object(k);
    if (!v) return std::nullopt;
    if (v->is_boolean()) return v->get<bool>();
    if (v->is_number_integer()) {
        const auto i = v->get<std::int64_t>();
        if (i == 0 || i == 1) return i == 1;
    }
    return std::nullopt;
}

std::optional<double> Defaults::storedDouble(std::string_view k) const {
    const auto v = object(k);
    if (!v || !v->is_number()) return std::nullopt;
    return v->get<double>();
}

Defaults::Value Defaults::toFileForm(const Value& value) {
    if (value.is_binary()) {
        const auto& bytes = value.get_binary();
        const QByteArray raw(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        return Value{{kDataMember, raw.toBase64().toStdString()}};
    }
    if (value.is_array()) {
        Value out = Value::array();
        for (const auto& v : value) out.push_back(toFileForm(v));
        return out;
    }
    if (value.is_object()) {
        Value out = Value::object();
        for (auto it = value.begin(); it != value.end(); ++it) out[it.key()] = toFileForm(it.value());
        return out;
    }
    return value;
}

Defaults::Value Defaults::fromFileForm(const Value& value) {
    if (value.is_object()) {
        if (value.size() == 1 && value.contains(kDataMember) && value[kDataMember].is_string()) {
            const auto decoded = QByteArray::fromBase64(QByteArray::fromStdString(value[kDataMember].get<std::string>()));
            return Value::binary(Value::binary_t::container_type(decoded.begin(), decoded.end()));
        }
        Value out = Value::object();
        for (auto it = value.begin(); it != value.end(); ++it) out[it.key()] = fromFileForm(it.value());
        return out;
    }
    if (value.is_array()) {
        Value out = Value::array();
        for (const auto& v : value) out.push_back(fromFileForm(v));
        return out;
    }
    return value;
}

void Defaults::save() {
    if (!file_) return;
    try {
        AtomicFile::write(*file_, toFileForm(values_).dump());
        lastWriteError_.clear();
    } catch (const std::exception& e) {
        lastWriteError_ = e.what();
    }
}

}  // namespace brevalto
