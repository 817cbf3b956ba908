#include "Clipboard/ClipboardMonitor.h"

#include "Clipboard/ClipStore.h"
#include "ClipCore/HistoryPolicy.h"
#include "Platform/Apps.h"
#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"
#include "Platform/Pasteboard.h"

#include <QTimer>

namespace brevalto {

namespace {

// An app identifier is short; a longer source is no identifier at all.
constexpr std::int64_t maxSourceBytes = 4096;

// Text as the store keeps it: valid UTF-8 (bytes that are not are replaced, not passed on).
std::string utf8Text(const QByteArray& bytes) { return QString::fromUtf8(bytes).toStdString(); }

// Image files live in the history folder itself; a name that leads elsewhere is not read.
bool isBareFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

ClipboardMonitor::ClipboardMonitor(ClipStore& store, Pasteboard& board, Apps& apps, Defaults& defaults,
                                   QObject* parent)
    : QObject(parent), store_(store), board_(board), apps_(apps), defaults_(defaults), count_(board.changeCount()) {}

ClipboardMonitor::~ClipboardMonitor() = default;

void ClipboardMonitor::start() {
    if (started_) return;
    started_ = true;
    // The change count is ours, raised with every change the clipboard reports: a poll follows
    // each report at once (after the report is handled), so nothing needs to wake in between.
    connect(&board_, &Pasteboard::changed, this, &ClipboardMonitor::poll, Qt::QueuedConnection);
    // Only while the desktop denies access does a poll come back by itself, to keep saying so
    // and to record what changed once access is allowed.
    retry_ = new QTimer(this);  // goes with the monitor: no poll after it is gone
    retry_->setSingleShot(true);
    retry_->setInterval(intervalMs);
    connect(retry_, &QTimer::timeout, this, &ClipboardMonitor::poll);
    poll();
}

bool ClipboardMonitor::accessRestricted() const {
    return board_.name() == Pasteboard::generalName && board_.access() != PasteboardAccess::alwaysAllow;
}

std::set<std::string> ClipboardMonitor::ignoredApps() const {
    const QString value = QString::fromStdString(defaults_.string(ignoredAppsKey).value_or(defaultIgnoredApps));
    std::set<std::string> apps;
    for (const QString& piece : value.split(QLatin1Char(','))) {
        const QString app = piece.trimmed();
        if (!app.isEmpty()) apps.insert(app.toStdString());
    }
    return apps;
}

std::string ClipboardMonitor::frontmostSource() const {
    if (auto app = apps_.frontmost(); app && !app->bundleIdentifier.isEmpty()) return app->bundleIdentifier.toStdString();
    return "Unknown";
}

void ClipboardMonitor::poll() {
    if (reading_) return;
    if (store_.paused()) {
        count_ = board_.changeCount();  // copies made while paused are never recorded
        return;
    }
    if (accessRestricted()) {
        store_.setMessage(accessMessage);
        if (retry_) retry_->start();
        return;
    }
    if (board_.changeCount() == count_) return;
    Tick tick;
    tick.count = board_.changeCount();
    count_ = tick.count;
    reading_ = true;
    board_.readTypes(this, [this, tick](std::optional<QStringList> types) { onTypes(tick, types); });
}

bool ClipboardMonitor::stillCurrent(const Tick& tick) const { return board_.changeCount() == tick.count; }

void ClipboardMonitor::onTypes(Tick tick, const std::optional<QStringList>& types) {
    if (!types || !stillCurrent(tick)) return finish();
    tick.types = *types;
    if (tick.types.contains(restoredType)) return finish();  // our own write-back
    if (tick.types.contains(PasteboardType::source)) {
        board_.readData(PasteboardType::source, maxSourceBytes, this,
                        [this, tick](PasteboardData data) { onSource(tick, data); });
        return;
    }
    tick.source = frontmostSource();
    decide(std::move(tick));
}

void ClipboardMonitor::onSource(Tick tick, const PasteboardData& data) {
    if (data.status == PasteboardData::Status::failed || !stillCurrent(tick)) return finish();
    tick.source = data.ok() ? utf8Text(data.bytes) : frontmostSource();
    decide(std::move(tick));
}

void ClipboardMonitor::decide(Tick tick) {
    std::set<std::string> types;
    for (const QString& type : tick.types) types.insert(type.toStdString());
    if (!HistoryPolicy::shouldCapture(types, tick.source, ignoredApps())) return finish();
    QStringList imageTypes;
    for (const QString& type : {PasteboardType::png, PasteboardType::tiff}) {
        if (tick.types.contains(type)) imageTypes.append(type);
    }
    readImage(std::move(tick), imageTypes);
}

// PNG first, else TIFF; an image is recorded instead of any text that came with it.
void ClipboardMonitor::readImage(Tick tick, QStringList imageTypes) {
    if (imageTypes.isEmpty()) return readText(std::move(tick));
    const QString type = imageTypes.takeFirst();
    board_.readData(type, ClipStore::kMaxInputBytes, this,
                    [this, tick = std::move(tick), imageTypes](PasteboardData data) mutable {
                        if (!stillCurrent(tick)) return finish();
                        switch (data.status) {
                        case PasteboardData::Status::ok:
                            store_.addImage(data.bytes, tick.source);
                            return finish();
                        case PasteboardData::Status::tooLarge:
                            reportOversized(Clip::Kind::image);
                            return finish();
                        case PasteboardData::Status::absent:
                        case PasteboardData::Status::failed:
                            return readImage(std::move(tick), std::move(imageTypes));
                        }
                    });
}

void ClipboardMonitor::readText(Tick tick) {
    // A copied file is not recorded as its name or path.
    if (tick.types.contains(PasteboardType::fileURL) || !tick.types.contains(PasteboardType::string)) {
        return finish();
    }
    board_.readData(PasteboardType::string, ClipStore::kMaxInputBytes, this, [this, tick](PasteboardData data) {
        if (stillCurrent(tick)) {
            if (data.ok()) {
                store_.addText(utf8Text(data.bytes), tick.source);
            } else if (data.status == PasteboardData::Status::tooLarge) {
                reportOversized(Clip::Kind::text);
            }
        }
        finish();
    });
}

// Content too large to read is reported as the store reports it when handed such content: a
// read-only store keeps its load failure, and a full image queue says so before the size.
void ClipboardMonitor::reportOversized(Clip::Kind kind) {
    if (!store_.writable()) return;
    if (kind == Clip::Kind::text) return store_.setMessage(textTooLargeMessage);
    store_.setMessage(store_.pendingImages() >= ClipStore::kMaxPendingImages ? imageQueueBusyMessage
                                                                             : imageTooLargeMessage);
}

void ClipboardMonitor::finish() {
    reading_ = false;
    // A change that came while we were reading is looked at now, not at the next tick.
    if (started_ && board_.changeCount() != count_) QTimer::singleShot(0, this, &ClipboardMonitor::poll);
}

bool ClipboardMonitor::copy(const Clip& clip) {
    PasteboardItem item;
    if (clip.text) {
        item.setString(PasteboardType::string, QString::fromStdString(*clip.text));
    } else if (clip.imageFile && isBareFileName(*clip.imageFile)) {
        try {
            const std::string png = AtomicFile::read(store_.root() / *clip.imageFile, ClipStore::kMaxInputBytes);
            item.setData(PasteboardType::png, QByteArray::fromStdString(png));
        } catch (const FileError&) {
            store_.setMessage(unavailableMessage);
            return false;
        }
    } else {
        store_.setMessage(unavailableMessage);
        return false;
    }
    item.markAsOwnCopy(QString::fromStdString(clip.source));
    const bool written = board_.write(item);
    count_ = board_.changeCount();  // after the write, so our own content is not recorded
    store_.setMessage(written ? copiedMessage : writeFailedMessage);
    return written;
}

}  // namespace brevalto
