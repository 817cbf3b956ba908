#pragma once

#include "ClipCore/Clip.h"
#include "Platform/Pasteboard.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <set>
#include <string>

class QTimer;

namespace brevalto {

class Apps;
class ClipStore;
class Defaults;

// Connects the desktop's clipboard with the history. Whenever the clipboard reports a change it
// looks for new content at once; content that passes the capture rules
// becomes a text or image clip in the store. In the other direction it writes a stored clip back
// to the clipboard, marked so that it is not recorded again.
//
// The clipboard's content may belong to another application, so reading it is asynchronous: a
// poll that finds a new change count starts the reads, and the steps after each read run when
// its answer arrives. `reading` is true from the first read until the content was handed to the
// store or dropped; polls meanwhile do nothing, and a change made meanwhile is picked up at once
// after it. Everything runs on the GUI thread.
class ClipboardMonitor : public QObject {
    Q_OBJECT
public:
    static inline const QString& restoredType = PasteboardType::restored;
    static constexpr const char* ignoredAppsKey = "ignoredApps";
    static constexpr const char* defaultIgnoredApps = "1Password,KeePassXC";
    // The longest a change waits before it is looked at (in practice it is looked at at once).
    static constexpr int intervalMs = 400;

    static inline const QString accessMessage = QStringLiteral("Clipboard access is not Always Allow.");
    static inline const QString unavailableMessage = QStringLiteral("This item's data is unavailable");
    static inline const QString copiedMessage = QStringLiteral("Copied \u00B7 Ctrl+V to paste");
    static inline const QString writeFailedMessage = QStringLiteral("Could not write the clipboard");
    static inline const QString textTooLargeMessage = QStringLiteral("Text exceeds 32 MB");
    static inline const QString imageTooLargeMessage = QStringLiteral("Image exceeds 32 MB");
    static inline const QString imageQueueBusyMessage = QStringLiteral("Image queue busy; copy again shortly");

    // Takes the board's change count now, so what was on the clipboard before is not recorded.
    ClipboardMonitor(ClipStore& store, Pasteboard& board, Apps& apps, Defaults& defaults, QObject* parent = nullptr);
    ~ClipboardMonitor() override;

    // Starts polling on every change of the clipboard. Once; later calls do nothing.
    void start();
    // One polling step. The panel may call it to catch up at once.
    void poll();
    // The clipboard it watches.
    Pasteboard& board() const { return board_; }
    // Whether the desktop denies us the clipboard (never on X11).
    bool accessRestricted() const;
    // Writes the clip back to the clipboard with our marker and its source. True when the
    // clipboard took it; the store's message says what happened either way.
    bool copy(const Clip& clip);

    // The last change count dealt with. Setting it to -1 makes the next poll take the current
    // content as new.
    std::int64_t count() const { return count_; }
    void setCount(std::int64_t count) { count_ = count; }
    bool reading() const { return reading_; }

    // The "ignoredApps" setting (or its default) as a set of app identifiers.
    std::set<std::string> ignoredApps() const;

private:
    struct Tick {
        std::int64_t count = 0;
        QStringList types;
        std::string source;
    };

    bool stillCurrent(const Tick& tick) const;
    void onTypes(Tick tick, const std::optional<QStringList>& types);
    void onSource(Tick tick, const PasteboardData& data);
    void decide(Tick tick);
    void readImage(Tick tick, QStringList imageTypes);
    void readText(Tick tick);
    void reportOversized(Clip::Kind kind);
    void finish();
    std::string frontmostSource() const;

    ClipStore& store_;
    Pasteboard& board_;
    Apps& apps_;
    Defaults& defaults_;
    bool started_ = false;
    QTimer* retry_ = nullptr;
    std::int64_t count_;
    bool reading_ = false;
};

}  // namespace brevalto
