#include "FakePasteboard.h"

namespace brevalto {

void FakePasteboard::readTypes(QObject* receiver, TypesReply done) {
    ++typeReads;
    QPointer<QObject> target(receiver);
    pending_.push_back([this, target, done = std::move(done)] {
        if (!target) return;
        if (typesFail) {
            done(std::nullopt);
            return;
        }
        done(content_.types());
    });
}

void FakePasteboard::readData(const QString& type, std::int64_t maxBytes, QObject* receiver, DataReply done) {
    dataReads.append(type);
    QPointer<QObject> target(receiver);
    pending_.push_back([this, target, type, maxBytes, done = std::move(done)] {
        if (!target) return;
        PasteboardData answer;
        if (failingTypes.contains(type)) {
            answer.status = PasteboardData::Status::failed;
        } else if (auto bytes = content_.data(type)) {
            if (bytes->size() > maxBytes) {
                answer.status = PasteboardData::Status::tooLarge;
            } else {
                answer.status = PasteboardData::Status::ok;
                answer.bytes = *bytes;
            }
        } else {
            answer.status = PasteboardData::Status::absent;
        }
        done(answer);
    });
}

bool FakePasteboard::write(const PasteboardItem& item) {
    content_ = PasteboardItem{};
    ++count_;
    if (!refuseWrites) content_ = item;
    emit changed();
    return !refuseWrites;
}

void FakePasteboard::setContent(const PasteboardItem& item) {
    content_ = item;
    ++count_;
    emit changed();
}

void FakePasteboard::copyText(const QString& text) {
    PasteboardItem item;
    item.setString(PasteboardType::string, text);
    setContent(item);
}

int FakePasteboard::deliver() {
    auto held = std::move(pending_);
    pending_.clear();
    for (auto& answer : held) answer();
    return static_cast<int>(held.size());
}

}  // namespace brevalto
