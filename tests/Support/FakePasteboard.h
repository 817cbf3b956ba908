#pragma once

#include "Platform/Pasteboard.h"

#include <QPointer>
#include <QSet>

#include <deque>

namespace brevalto {

// An in-memory pasteboard. Content set by the test stands for another application's copy; the
// change count moves on every such copy and on every write, as on the desktop.
//
// Reads are held until the test calls deliver(), so that it can change the content while a read
// is under way; an answer is made from the content as it is at delivery.
class FakePasteboard final : public Pasteboard {
    Q_OBJECT
public:
    explicit FakePasteboard(QString name = generalName) : name_(std::move(name)) {}

    QString name() const override { return name_; }
    PasteboardAccess access() const override { return accessSetting; }
    std::int64_t changeCount() const override { return count_; }

    void readTypes(QObject* receiver, TypesReply done) override;
    void readData(const QString& type, std::int64_t maxBytes, QObject* receiver, DataReply done) override;
    bool write(const PasteboardItem& item) override;

    // Another application copies: the content is replaced and the count moves.
    void setContent(const PasteboardItem& item);
    // A copy of text only (plain string) or of given types with these bytes.
    void copyText(const QString& text);
    const PasteboardItem& content() const { return content_; }

    // Delivers the answers held now (not those that they ask for in turn). Returns how many.
    int deliver();
    std::size_t pendingReads() const { return pending_.size(); }

    PasteboardAccess accessSetting = PasteboardAccess::alwaysAllow;
    bool refuseWrites = false;
    bool typesFail = false;          // the owner does not answer the list of types
    QSet<QString> failingTypes;      // the owner does not answer these types
    int typeReads = 0;               // readTypes calls
    QStringList dataReads;           // readData calls, by type

private:
    QString name_;
    PasteboardItem content_;
    std::int64_t count_ = 0;
    std::deque<std::function<void()>> pending_;
};

}  // namespace brevalto
