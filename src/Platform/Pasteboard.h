#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace brevalto {

// Type identifiers of pasteboard content. The app speaks only in these; each implementation
// maps them onto what its clipboard calls them (on X11: selection targets). Any other
// identifier names a custom type that travels under its own name.
namespace PasteboardType {
inline const QString string = QStringLiteral("public.utf8-plain-text");
inline const QString png = QStringLiteral("public.png");
inline const QString tiff = QStringLiteral("public.tiff");
inline const QString fileURL = QStringLiteral("public.file-url");
inline const QString concealed = QStringLiteral("org.nspasteboard.ConcealedType");
inline const QString source = QStringLiteral("org.nspasteboard.source");
// Set ("1") on every copy the app makes itself, so that its clipboard history does not record it.
inline const QString restored = QStringLiteral("app.brevalto.restored");
}  // namespace PasteboardType

// One item to put on the pasteboard: bytes per type identifier, in the order they were set.
class PasteboardItem {
public:
    // Sets (or replaces) the bytes of one type.
    void setData(const QString& type, const QByteArray& bytes) {
        for (auto& entry : entries_) {
            if (entry.first == type) {
                entry.second = bytes;
                return;
            }
        }
        entries_.emplace_back(type, bytes);
    }
    // Text is stored as its UTF-8 bytes.
    void setString(const QString& type, const QString& text) { setData(type, text.toUtf8()); }
    // Marks the item as the app's own copy of content that came from `source` (an app
    // identifier): the restored marker and the source type.
    void markAsOwnCopy(const QString& source) {
        setString(PasteboardType::restored, QStringLiteral("1"));
        setString(PasteboardType::source, source);
    }

    std::optional<QByteArray> data(const QString& type) const {
        for (const auto& entry : entries_) {
            if (entry.first == type) return entry.second;
        }
        return std::nullopt;
    }
    QStringList types() const {
        QStringList list;
        for (const auto& entry : entries_) list.append(entry.first);
        return list;
    }
    const std::vector<std::pair<QString, QByteArray>>& entries() const { return entries_; }
    bool isEmpty() const { return entries_.empty(); }

private:
    std::vector<std::pair<QString, QByteArray>> entries_;
};

// The answer to one bounded read of pasteboard data.
struct PasteboardData {
    enum class Status {
        ok,        // bytes hold the whole value
        absent,    // the content has no such type (or its owner refused it)
        tooLarge,  // the value is longer than the limit the reader gave; nothing is kept
        failed,    // no usable answer: the owner was too slow, went away, answered garbage, or
                   // the content changed while it was being read
    };
    Status status = Status::failed;
    QByteArray bytes;

    bool ok() const { return status == Status::ok; }
};

// The per-app privacy setting of a pasteboard, where the desktop has one.
enum class PasteboardAccess { alwaysAllow, ask, alwaysDeny };

// A clipboard of the desktop. Its change count moves whenever its content changes, by another
// application or by our own writes, and `changed` is emitted each time.
//
// The content may belong to another process, which can answer slowly, never, or with anything
// at all. Reading is therefore asynchronous and bounded in time and size: a read returns at
// once, and its answer is delivered later on the receiver's thread (never inside the call), and
// not at all when the receiver is gone by then. Writing makes us the owner and is immediate.
class Pasteboard : public QObject {
    Q_OBJECT
public:
    // The name of the desktop's general clipboard (the one copy and paste use).
    static inline const QString generalName = QStringLiteral("general");

    using TypesReply = std::function<void(std::optional<QStringList>)>;
    using DataReply = std::function<void(PasteboardData)>;

    using QObject::QObject;
    ~Pasteboard() override = default;

    virtual QString name() const = 0;
    virtual PasteboardAccess access() const = 0;
    virtual std::int64_t changeCount() const = 0;

    // The type identifiers of the current content (an empty list when there is none), or none
    // when the content could not be read.
    virtual void readTypes(QObject* receiver, TypesReply done) = 0;
    // The bytes of one type, at most maxBytes of them. Text types answer UTF-8.
    virtual void readData(const QString& type, std::int64_t maxBytes, QObject* receiver, DataReply done) = 0;

    // Clears the pasteboard and puts the one item on it. False when the clipboard refused.
    virtual bool write(const PasteboardItem& item) = 0;

signals:
    void changed();
};

}  // namespace brevalto
