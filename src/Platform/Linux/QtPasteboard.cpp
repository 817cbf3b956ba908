#include "Platform/Linux/QtPasteboard.h"

#include "Platform/Linux/X11Connection.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace brevalto {

// ---------------------------------------------------------------------------------------------
// The type table

namespace {

const QString utf8Text = QStringLiteral("text/plain;charset=utf-8");
const QString plainText = QStringLiteral("text/plain");
const QString utf8String = QStringLiteral("UTF8_STRING");
const QString latin1String = QStringLiteral("STRING");
const QString uriList = QStringLiteral("text/uri-list");
const QString copiedFiles = QStringLiteral("x-special/gnome-copied-files");

struct TargetMapping {
    const QString& type;
    QStringList targets;  // in read preference order
};

const std::vector<TargetMapping>& targetTable() {
    static const std::vector<TargetMapping> table{
        // UTF8_STRING first: GTK answers the text/plain targets with CRLF line ends, and a Qt owner
        // answers text/plain;charset=utf-8 with nothing.
        {PasteboardType::string, {utf8String, utf8Text, plainText, latin1String}},
        {PasteboardType::png, {QStringLiteral("image/png")}},
        {PasteboardType::tiff, {QStringLiteral("image/tiff")}},
        {PasteboardType::fileURL, {uriList, copiedFiles}},
    };
    return table;
}

// Targets of the selection protocol itself, not of content.
bool isProtocolTarget(const QString& target) {
    static const QStringList protocol{QStringLiteral("TARGETS"),          QStringLiteral("MULTIPLE"),
                                      QStringLiteral("TIMESTAMP"),        QStringLiteral("SAVE_TARGETS"),
                                      QStringLiteral("DELETE"),           QStringLiteral("INSERT_SELECTION"),
                                      QStringLiteral("INSERT_PROPERTY"),  QStringLiteral("INCR")};
    return protocol.contains(target);
}

}  // namespace

QStringList X11Targets::forType(const QString& type) {
    for (const auto& mapping : targetTable()) {
        if (mapping.type == type) return mapping.targets;
    }
    return {type};
}

QStringList X11Targets::typesFor(const QStringList& targets) {
    QStringList types;
    for (const QString& target : targets) {
        if (target.isEmpty() || isProtocolTarget(target)) continue;
        QString type = target;
        for (const auto& mapping : targetTable()) {
            if (mapping.targets.contains(target)) type = mapping.type;
        }
        if (!types.contains(type)) types.append(type);
    }
    return types;
}

QByteArray X11Targets::inTypeForm(const QString& type, const QString& target, QByteArray bytes) {
    if (type == PasteboardType::string && target == latin1String) return QString::fromLatin1(bytes).toUtf8();
    if (type == PasteboardType::fileURL && target == copiedFiles) {
        // "copy" or "cut", then one URI a line.
        QList<QByteArray> lines = bytes.split('\n');
        if (!lines.isEmpty()) lines.removeFirst();
        QByteArray list;
        for (const QByteArray& line : lines) {
            const QByteArray uri = line.trimmed();
            if (!uri.isEmpty()) list += uri + "\r\n";
        }
        return list;
    }
    return bytes;
}

namespace {

QMimeData* mimeDataFor(const PasteboardItem& item) {
    auto* mime = new QMimeData;
    for (const auto& [type, bytes] : item.entries()) {
        if (type == PasteboardType::string) {
            mime->setText(QString::fromUtf8(bytes));  // also served as UTF8_STRING and STRING
            mime->setData(utf8Text, bytes);
        } else if (type == PasteboardType::concealed) {
            mime->setData(type, bytes);
            mime->setData(X11Targets::passwordHint, X11Targets::passwordHintSecret);
        } else {
            mime->setData(X11Targets::forType(type).constFirst(), bytes);
        }
    }
    return mime;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The reader of content that another client owns. It lives on the pasteboard's one background
// thread and owns an X connection and an unmapped window that receives the owner's answers.

class QtPasteboard::Reader {
public:
    Reader(Timeouts timeouts, std::shared_ptr<std::atomic<std::int64_t>> count,
           std::shared_ptr<std::atomic<bool>> closing)
        : timeouts_(timeouts), count_(std::move(count)), closing_(std::move(closing)) {}

    ~Reader() {
        if (x_ && window_ != XCB_WINDOW_NONE) xcb_destroy_window(x_->get(), window_);
    }

    std::optional<QStringList> types(std::int64_t expected);
    PasteboardData data(const QString& type, std::int64_t maxBytes, std::int64_t expected);

private:
    struct Value {
        PasteboardData::Status status = PasteboardData::Status::failed;
        xcb_atom_t type = XCB_ATOM_NONE;
        std::uint8_t format = 0;
        std::string bytes;
    };

    bool connect();
    Value convert(const QString& target, std::int64_t maxBytes, std::int64_t expected,
                  X11Connection::Clock::time_point end);
    bool stopped(std::int64_t expected) const { return closing_->load() || count_->load() != expected; }
    Value receiveIncrementally(xcb_atom_t property, std::int64_t maxBytes, X11Connection::Clock::time_point end,
                               const std::function<bool()>& stop);
    void drainIncrementally(xcb_atom_t property);
    bool waitForPart(xcb_atom_t property, X11Connection::Clock::time_point deadline, const std::function<bool()>& stop);

    Timeouts timeouts_;
    std::shared_ptr<std::atomic<std::int64_t>> count_;
    std::shared_ptr<std::atomic<bool>> closing_;
    std::unique_ptr<X11Connection> x_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    xcb_atom_t clipboard_ = XCB_ATOM_NONE;
    xcb_atom_t incr_ = XCB_ATOM_NONE;
    std::vector<xcb_atom_t> properties_;
    std::uint32_t serial_ = 0;
    // The targets the current owner listed, for the change count they were read at.
    std::int64_t offeredCount_ = -1;
    QStringList offered_;
};

bool QtPasteboard::Reader::connect() {
    if (x_ && !x_->broken()) return true;
    x_.reset();
    window_ = XCB_WINDOW_NONE;
    x_ = X11Connection::open();
    if (!x_) return false;
    window_ = xcb_generate_id(x_->get());
    const std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(x_->get(), XCB_COPY_FROM_PARENT, window_, x_->root(), -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    clipboard_ = x_->atom("CLIPBOARD");
    incr_ = x_->atom("INCR");
    // A few properties in turn, so that a late answer to an abandoned request cannot be taken
    // for the answer to the next one.
    properties_.clear();
    for (int i = 0; i < 4; ++i) properties_.push_back(x_->atom("BREVALTO_SELECTION_" + std::to_string(i)));
    xcb_flush(x_->get());
    return !x_->broken();
}

QtPasteboard::Reader::Value QtPasteboard::Reader::convert(const QString& target, std::int64_t maxBytes,
                                                          std::int64_t expected, X11Connection::Clock::time_point end) {
    Value result;
    if (!connect()) return result;
    const auto stop = [this, expected] { return stopped(expected); };
    if (stop()) return result;
    const auto start = X11Connection::Clock::now();

    const xcb_atom_t targetAtom = x_->atom(target.toStdString());
    const xcb_atom_t property = properties_[serial_++ % properties_.size()];
    xcb_delete_property(x_->get(), window_, property);
    xcb_convert_selection(x_->get(), window_, clipboard_, targetAtom, property, XCB_CURRENT_TIME);
    xcb_flush(x_->get());

    const xcb_window_t window = window_;
    const xcb_atom_t selection = clipboard_;
    xcb_generic_event_t* event = x_->waitForEvent(
        [&](const xcb_generic_event_t* e) {
            if ((e->response_type & 0x7f) != XCB_SELECTION_NOTIFY) return false;
            const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(e);
            return notify->requestor == window && notify->selection == selection && notify->target == targetAtom &&
                   (notify->property == property || notify->property == XCB_ATOM_NONE);
        },
        std::min(end, start + timeouts_.answer), stop);
    if (!event) return result;  // no answer in time, or the content changed meanwhile
    const bool refused = reinterpret_cast<xcb_selection_notify_event_t*>(event)->property == XCB_ATOM_NONE;
    std::free(event);
    if (refused) {
        result.status = PasteboardData::Status::absent;
        return result;
    }

    const auto limit = static_cast<std::uint32_t>(std::clamp<std::int64_t>(maxBytes, 0, 0x7fffffff));
    auto value = x_->property(window_, property, limit, true);
    if (!value) return result;  // the owner said it answered but left nothing
    if (value->type == incr_) {
        // The owner announces a lower bound of the size: a value that cannot fit is refused at
        // once, though the owner still has to be let through its transfer.
        std::uint32_t announced = 0;
        if (value->format == 32 && value->bytes.size() >= 4) std::memcpy(&announced, value->bytes.data(), 4);
        if (static_cast<std::int64_t>(announced) > maxBytes) {
            drainIncrementally(property);
            result.status = PasteboardData::Status::tooLarge;
            return result;
        }
        return receiveIncrementally(property, maxBytes, end, stop);
    }
    if (value->bytesAfter > 0) {
        xcb_delete_property(x_->get(), window_, property);
        xcb_flush(x_->get());
        result.status = PasteboardData::Status::tooLarge;
        return result;
    }
    result.status = PasteboardData::Status::ok;
    result.type = value->type;
    result.format = value->format;
    result.bytes = std::move(value->bytes);
    return result;
}

// Waits until the owner has put the next part of an INCR transfer into the property.
bool QtPasteboard::Reader::waitForPart(xcb_atom_t property, X11Connection::Clock::time_point deadline,
                                       const std::function<bool()>& stop) {
    const xcb_window_t window = window_;
    xcb_generic_event_t* event = x_->waitForEvent(
        [&](const xcb_generic_event_t* e) {
            if ((e->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
            const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(e);
            return notify->window == window && notify->atom == property && notify->state == XCB_PROPERTY_NEW_VALUE;
        },
        deadline, stop);
    const bool arrived = event != nullptr;
    std::free(event);
    return arrived;
}

// The INCR protocol: the owner sends the value in parts, each put in the property after we
// delete the previous one, and ends with an empty part.
QtPasteboard::Reader::Value QtPasteboard::Reader::receiveIncrementally(xcb_atom_t property, std::int64_t maxBytes,
                                                                       X11Connection::Clock::time_point end,
                                                                       const std::function<bool()>& stop) {
    Value result;
    std::string bytes;
    for (;;) {
        const auto partDeadline = std::min(end, X11Connection::Clock::now() + timeouts_.answer);
        if (!waitForPart(property, partDeadline, stop)) {
            // The content changed meanwhile, or the whole transfer took longer than we wait: the
            // owner still waits for us to take its parts. One that sent no part in time is not
            // waited for again.
            const bool stalled = X11Connection::Clock::now() >= partDeadline && partDeadline < end;
            if (!closing_->load() && !stalled) drainIncrementally(property);
            return result;
        }
        const auto room = static_cast<std::uint32_t>(
            std::clamp<std::int64_t>(maxBytes - static_cast<std::int64_t>(bytes.size()), 0, 0x7fffffff));
        auto part = x_->property(window_, property, room, true);
        if (!part) continue;  // already gone: wait for the next one
        if (part->bytesAfter > 0) {
            xcb_delete_property(x_->get(), window_, property);
            xcb_flush(x_->get());
            std::string().swap(bytes);
            drainIncrementally(property);
            result.status = PasteboardData::Status::tooLarge;
            return result;
        }
        if (part->bytes.empty()) break;
        bytes += part->bytes;
        result.type = part->type;
        result.format = part->format;
    }
    result.status = PasteboardData::Status::ok;
    result.bytes = std::move(bytes);
    return result;
}

// An owner in an INCR transfer serves nobody else until it has sent its final, empty part, and
// it sends each part only after we deleted the one before. So a transfer whose value we do not
// keep is still taken to its end, without reading the parts: each costs one small request, and
// the whole is bounded by the drain timeout and by the answer timeout for each part.
void QtPasteboard::Reader::drainIncrementally(xcb_atom_t property) {
    const auto end = X11Connection::Clock::now() + timeouts_.drain;
    const auto closing = [this] { return closing_->load(); };
    for (;;) {
        if (!waitForPart(property, std::min(end, X11Connection::Clock::now() + timeouts_.answer), closing)) return;
        // Asking for no bytes: the server deletes the property only when it was empty.
        const auto part = x_->property(window_, property, 0, true);
        if (!part) continue;
        if (part->bytes.empty() && part->bytesAfter == 0) return;  // the final part
        if (part->bytesAfter > 0) {
            xcb_delete_property(x_->get(), window_, property);
            xcb_flush(x_->get());
        }
    }
}

std::optional<QStringList> QtPasteboard::Reader::types(std::int64_t expected) {
    constexpr std::int64_t maxTargets = 1024;
    const auto end = X11Connection::Clock::now() + timeouts_.transfer;
    Value value = convert(QStringLiteral("TARGETS"), maxTargets * 4, expected, end);
    if (value.status == PasteboardData::Status::absent) return QStringList{};  // nobody owns it
    if (value.status != PasteboardData::Status::ok || value.format != 32) return std::nullopt;
    std::vector<xcb_atom_t> atoms(value.bytes.size() / 4);
    std::memcpy(atoms.data(), value.bytes.data(), atoms.size() * 4);
    QStringList targets;
    for (const std::string& name : x_->atomNames(atoms)) targets.append(QString::fromStdString(name));
    offeredCount_ = expected;
    offered_ = targets;

    QStringList types = X11Targets::typesFor(targets);
    if (targets.contains(X11Targets::passwordHint)) {
        Value hint = convert(X11Targets::passwordHint, 64, expected, end);
        if (hint.status == PasteboardData::Status::failed) return std::nullopt;
        if (hint.status == PasteboardData::Status::ok &&
            QByteArray::fromStdString(hint.bytes).trimmed() == X11Targets::passwordHintSecret &&
            !types.contains(PasteboardType::concealed)) {
            types.append(PasteboardType::concealed);
        }
    }
    return types;
}

PasteboardData QtPasteboard::Reader::data(const QString& type, std::int64_t maxBytes, std::int64_t expected) {
    const auto end = X11Connection::Clock::now() + timeouts_.transfer;
    // The targets that carry the type, in preference order; those the owner listed come first,
    // since owners may refuse or ignore what they did not offer.
    QStringList targets = X11Targets::forType(type);
    if (offeredCount_ == expected) {
        std::stable_partition(targets.begin(), targets.end(),
                              [this](const QString& target) { return offered_.contains(target); });
    }
    // Owners differ in which targets they answer: an empty answer, a refusal, an answer in the
    // wrong format or no answer in time on one target moves on to the next.
    bool unanswered = false;
    for (const QString& target : targets) {
        if (stopped(expected) || X11Connection::Clock::now() >= end) return PasteboardData{};
        Value value = convert(target, maxBytes, expected, end);
        if (value.status == PasteboardData::Status::ok && value.format != 8) value.status = PasteboardData::Status::failed;
        switch (value.status) {
        case PasteboardData::Status::ok:
            if (value.bytes.empty()) continue;
            break;
        case PasteboardData::Status::tooLarge: {
            PasteboardData answer;
            answer.status = PasteboardData::Status::tooLarge;
            return answer;
        }
        case PasteboardData::Status::absent:
            continue;
        case PasteboardData::Status::failed:
            unanswered = true;
            continue;
        }
        PasteboardData answer;
        answer.status = PasteboardData::Status::ok;
        answer.bytes = X11Targets::inTypeForm(type, target, QByteArray::fromStdString(value.bytes));
        if (answer.bytes.size() > maxBytes) {
            answer.bytes.clear();
            answer.status = PasteboardData::Status::tooLarge;
        }
        return answer;
    }
    // No target gave data: when some went unanswered the read failed, else there is no value
    // (an empty one counts as none).
    PasteboardData answer;
    if (!unanswered && !stopped(expected)) answer.status = PasteboardData::Status::absent;
    return answer;
}

// ---------------------------------------------------------------------------------------------
// The pasteboard

QtPasteboard::QtPasteboard(Timeouts timeouts, QObject* parent)
    : Pasteboard(parent),
      clipboard_(QGuiApplication::clipboard()),
      x11_(QGuiApplication::platformName() == QLatin1String("xcb")),
      sharedCount_(std::make_shared<std::atomic<std::int64_t>>(0)),
      closing_(std::make_shared<std::atomic<bool>>(false)),
      reader_(std::make_unique<Reader>(timeouts, sharedCount_, closing_)) {
    connect(clipboard_, &QClipboard::dataChanged, this, &QtPasteboard::raiseCount);
}

QtPasteboard::~QtPasteboard() {
    closing_->store(true);
    pool_.waitForDone();
}

void QtPasteboard::raiseCount() {
    ++count_;
    sharedCount_->store(count_);
    emit changed();
}

bool QtPasteboard::readsLocally() const { return !x11_ || clipboard_->ownsClipboard(); }

const QMimeData* QtPasteboard::localContent() const { return clipboard_->mimeData(QClipboard::Clipboard); }

void QtPasteboard::readTypes(QObject* receiver, TypesReply done) {
    if (readsLocally()) {
        QStringList types;
        if (const QMimeData* mime = localContent()) {
            types = X11Targets::typesFor(mime->formats());
            if (mime->data(X11Targets::passwordHint).trimmed() == X11Targets::passwordHintSecret &&
                !types.contains(PasteboardType::concealed)) {
                types.append(PasteboardType::concealed);
            }
        }
        Task::post(receiver, [done = std::move(done), types] { done(types); });
        return;
    }
    const std::int64_t expected = count_;
    Reader* reader = reader_.get();
    Task::run(
        pool_, receiver, [reader, expected](std::stop_token) { return reader->types(expected); },
        [done = std::move(done)](TaskResult<std::optional<QStringList>>& result) {
            done(result.ok() ? result.get() : std::nullopt);
        });
}

void QtPasteboard::readData(const QString& type, std::int64_t maxBytes, QObject* receiver, DataReply done) {
    if (readsLocally()) {
        PasteboardData answer;
        answer.status = PasteboardData::Status::absent;
        if (const QMimeData* mime = localContent()) {
            const QStringList formats = mime->formats();
            for (const QString& target : X11Targets::forType(type)) {
                if (!formats.contains(target)) continue;
                answer.bytes = X11Targets::inTypeForm(type, target, mime->data(target));
                if (answer.bytes.isEmpty()) continue;  // an empty value counts as none
                answer.status = PasteboardData::Status::ok;
                if (answer.bytes.size() > maxBytes) {
                    answer.bytes.clear();
                    answer.status = PasteboardData::Status::tooLarge;
                }
                break;
            }
        }
        Task::post(receiver, [done = std::move(done), answer] { done(answer); });
        return;
    }
    const std::int64_t expected = count_;
    Reader* reader = reader_.get();
    Task::run(
        pool_, receiver,
        [reader, type, maxBytes, expected](std::stop_token) { return reader->data(type, maxBytes, expected); },
        [done = std::move(done)](TaskResult<PasteboardData>& result) {
            done(result.ok() ? result.get() : PasteboardData{});
        });
}

bool QtPasteboard::write(const PasteboardItem& item) {
    QMimeData* mime = mimeDataFor(item);
    raiseCount();
    clipboard_->setMimeData(mime, QClipboard::Clipboard);  // takes ownership of mime
    if (x11_) return clipboard_->ownsClipboard();
    return clipboard_->mimeData(QClipboard::Clipboard) == mime;
}

}  // namespace brevalto
