// Clipboard data as another X11 client sends it: the bytes of one selection target turned into the
// form of its type (X11Targets::inTypeForm), then, for text, recorded by the clip store as the
// clipboard monitor records it. The first byte chooses the target. Properties: a Latin-1 STRING
// becomes UTF-8 that reads back as the same Latin-1; a file list is one trimmed, non-empty URI per
// CRLF-ended line (from the list GNOME's file managers copy); a recorded text is on disk and reads back unchanged in a store opened anew.

#include "Clipboard/ClipStore.h"
#include "FuzzFolder.h"
#include "FuzzSupport.h"
#include "Platform/Linux/QtPasteboard.h"

using namespace brevalto;

namespace {

struct Target {
    QString type;
    QString target;
};

const std::vector<Target>& targets() {
    static const std::vector<Target> all = [] {
        std::vector<Target> list;
        for (const QString& type : {PasteboardType::string, PasteboardType::fileURL})
            for (const QString& target : X11Targets::forType(type)) list.push_back({type, target});
        return list;
    }();
    return all;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

void checkFileList(const QByteArray& list) {
    fuzz::check(list.isEmpty() || list.endsWith("\r\n"), "a file list that does not end its last line");
    for (const QByteArray& line : list.split('\n')) {
        if (line.isEmpty()) continue;  // after the last line end
        fuzz::check(line.endsWith('\r'), "a file list line without CRLF");
        const QByteArray uri = line.chopped(1);
        fuzz::check(!uri.isEmpty() && !isSpace(uri.front()) && !isSpace(uri.back()), "an empty or untrimmed URI");
    }
}

void checkRecorded(const std::string& text) {
    const auto folder = fuzz::folder() / "history";
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    {
        ClipStore store(folder);
        store.addText(text, "org.example.Peer");
        store.flush();
        const bool reported = text.empty() ? store.message() == QString::fromUtf8(ClipStore::kReadyMessage)
                                           : store.message().startsWith(QStringLiteral("Saved text"));
        if (!reported) fuzz::fail("recording a text reported " + store.message().toStdString());
    }
    const ClipStore again(folder);
    fuzz::check(again.writable(), "a history with a recorded text does not load");
    if (text.empty()) {
        fuzz::check(again.items().empty(), "an empty text was recorded");
        return;
    }
    fuzz::check(again.items().size() == 1 && again.items().front().text == text, "a recorded text reads back changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Target& chosen = targets()[data[0] % targets().size()];
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const QByteArray value = X11Targets::inTypeForm(chosen.type, chosen.target, bytes);
    if (chosen.type == PasteboardType::fileURL) {
        if (chosen.target == QStringLiteral("x-special/gnome-copied-files")) checkFileList(value);
        return 0;
    }
    if (chosen.target == QStringLiteral("STRING")) {
        fuzz::check(QString::fromUtf8(value).toLatin1() == bytes && QString::fromUtf8(value).toUtf8() == value,
                    "a Latin-1 text that does not convert to UTF-8 and back");
    }
    // The monitor keeps text as valid UTF-8, replacing what is not.
    checkRecorded(QString::fromUtf8(value).toStdString());
    return 0;
}
