#pragma once

#include <QObject>
#include <QString>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

// The user's settings: a typed key-value store. Values are JSON values whose types stay distinct:
// bool, integer, double, string, data (a JSON binary value), array and dictionary. A volatile
// registration domain supplies values for keys the user never set; it is never written.
//
// With a file, every change is written through AtomicFile at once (settings change rarely);
// without one, the store lives in memory only, which is what tests use.
//
// How the typed readers convert (the one place this is decided):
//   boolValue    bool -> itself; number -> non-zero; string -> "YES"/"yes"/"true"/"TRUE"/"1"-like
//                (a leading 'Y', 'y', 'T', 't' or a non-zero integer); anything else -> false.
//   integer      integer -> itself; double -> truncated toward zero (clamped to int64); bool -> 0/1;
//                string -> its leading integer (0 when none); anything else -> 0.
//   doubleValue  number -> itself; bool -> 0/1; string -> its leading number; anything else -> 0.
//   string       string -> itself; number -> its decimal text; anything else -> none.
//   storedBool   only a stored bool, or an integer 0 or 1 (numbers 0 and 1 are Booleans too).
//   storedDouble only a stored number (integer or double), never a bool or a string.
class Defaults : public QObject {
    Q_OBJECT
public:
    using Value = nlohmann::json;

    // In memory only.
    Defaults();
    // Backed by a JSON file, read now (a missing file is an empty store; an unreadable one is
    // moved aside as "<name>.corrupt" so that nothing is silently overwritten).
    explicit Defaults(std::filesystem::path file);
    ~Defaults() override;

    // The value set by the user, else the registered one, else none.
    std::optional<Value> object(std::string_view key) const;
    bool contains(std::string_view key) const { return object(key).has_value(); }

    void set(std::string_view key, Value value);
    void setData(std::string_view key, std::string_view bytes);
    void remove(std::string_view key);
    // The keys the user set (not the registered ones), in no particular order.
    std::vector<std::string> keys() const;
    // Merges values into the registration domain (later registrations win).
    void registerDefaults(const Value& dictionary);

    bool boolValue(std::string_view key) const;
    std::int64_t integer(std::string_view key) const;
    double doubleValue(std::string_view key) const;
    std::optional<std::string> string(std::string_view key) const;
    std::optional<std::string> data(std::string_view key) const;
    std::optional<Value> array(std::string_view key) const;
    std::optional<Value> dictionary(std::string_view key) const;
    std::optional<bool> storedBool(std::string_view key) const;
    std::optional<double> storedDouble(std::string_view key) const;

    // The last error of writing the file (empty when the last write worked).
    const std::string& lastWriteError() const { return lastWriteError_; }

    // Encoding of the file form: data values are written as {"$data": "<base64>"}.
    static Value toFileForm(const Value& value);
    static Value fromFileForm(const Value& value);

signals:
    void changed(const QString& key);

private:
    void save();

    std::optional<std::filesystem::path> file_;
    Value values_ = Value::object();
    Value registered_ = Value::object();
    std::string lastWriteError_;
};

}  // namespace brevalto
