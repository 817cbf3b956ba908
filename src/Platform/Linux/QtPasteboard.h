#pragma once

#include "Platform/Pasteboard.h"
#include "Platform/Task.h"

#include <QStringList>

#include <atomic>
#include <chrono>
#include <memory>

class QClipboard;
class QMimeData;

namespace brevalto {

// The one table between our type identifiers and X11 selection targets.
namespace X11Targets {
// The targets that carry a type, in the order a reader prefers them. A type the table does not
// know travels as a target of its own name.
QStringList forType(const QString& type);
// The type identifiers that a list of targets offers (the protocol's own targets dropped).
QStringList typesFor(const QStringList& targets);
// A value read through one of a type's targets, in the form the type has: text as UTF-8 (a
// Latin-1 STRING converted), file lists as a URI list.
QByteArray inTypeForm(const QString& type, const QString& target, QByteArray bytes);
// The target through which password managers mark their copies, and the value that conceals.
inline const QString passwordHint = QStringLiteral("x-kde-passwordManagerHint");
inline const QByteArray passwordHintSecret = QByteArrayLiteral("secret");
}  // namespace X11Targets

// The desktop's general clipboard (the X11 CLIPBOARD selection) through QClipboard.
//
// X11 keeps no change count, so we keep our own: raised on every QClipboard::dataChanged (which
// the platform emits when another client takes the selection) and on every write of ours.
//
// Writing goes through QClipboard, which then serves other clients. Reading content that another
// client owns does not: QClipboard would wait for that client on the GUI thread. A reader of our
// own, with its own X connection on a background thread, asks the owner for its targets and data
// with deadlines and size limits, and gives up as soon as the content changes again. Content we
// own, and any platform other than X11, is read from QClipboard directly.
class QtPasteboard final : public Pasteboard {
    Q_OBJECT
public:
    struct Timeouts {
        std::chrono::milliseconds answer{2000};     // an owner's first answer, and each part after it
        std::chrono::milliseconds transfer{15000};  // a whole transfer of one value
        std::chrono::milliseconds drain{60000};     // taking a transfer we do not keep to its end
    };

    explicit QtPasteboard(QObject* parent = nullptr) : QtPasteboard(Timeouts{}, parent) {}
    explicit QtPasteboard(Timeouts timeouts, QObject* parent = nullptr);
    ~QtPasteboard() override;

    QString name() const override { return generalName; }
    PasteboardAccess access() const override { return PasteboardAccess::alwaysAllow; }
    std::int64_t changeCount() const override { return count_; }

    void readTypes(QObject* receiver, TypesReply done) override;
    void readData(const QString& type, std::int64_t maxBytes, QObject* receiver, DataReply done) override;
    bool write(const PasteboardItem& item) override;

    class Reader;

private:
    void raiseCount();
    bool readsLocally() const;
    const QMimeData* localContent() const;

    QClipboard* clipboard_;
    bool x11_;
    std::int64_t count_ = 0;
    std::shared_ptr<std::atomic<std::int64_t>> sharedCount_;
    std::shared_ptr<std::atomic<bool>> closing_;
    std::unique_ptr<Reader> reader_;
    TaskPool pool_{1};  // declared last: destroyed first, waiting for a running read
};

}  // namespace brevalto
