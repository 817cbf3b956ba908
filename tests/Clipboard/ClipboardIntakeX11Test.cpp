// What people copy in the programs they use reaches the history: copies made through Qt, through
// GTK and with xclip, of short and long text in any script and of images, each recorded once
// with the right text or pixels; password-manager copies never. Also owners that answer badly.
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "FakePasteboardOwner.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/QtPasteboard.h"
#include "Platform/Linux/X11Apps.h"
#include "QtWait.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>

namespace brevalto {
namespace {

using namespace std::chrono_literals;

// A program that copies on command: one line in ("text FILE", "secret FILE", "image FILE"), "ok"
// out once the clipboard holds the content.
class CopyingProgram {
public:
    CopyingProgram(const QString& program, const QStringList& arguments) {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(program, arguments);
        process_.waitForStarted(5000);
    }
    ~CopyingProgram() {
        process_.write("quit\n");
        if (!process_.waitForFinished(2000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }

    bool copy(const char* command, const QString& file) {
        process_.write(QByteArray(command) + ' ' + file.toUtf8() + '\n');
        // The event loop keeps running meanwhile: the monitor under test reads while we wait.
        if (!waitUntil([&] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; }, 10000))
            return false;
        return process_.readLine().trimmed() == "ok";
    }

private:
    QProcess process_;
};

struct Program {
    const char* name;
    std::function<bool(const char* command, const QString& file)> copy;
    bool copiesImages;
    bool marksPasswords;
};

// A recognisable picture per program, so that two programs' copies are never the same image.
QImage pictureFor(int seed) {
    QImage image(97, 61, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba((x * 7 + seed * 40) % 256, (y * 11 + seed * 90) % 256, (x * y + seed) % 256, 255));
    return image;
}

// About 1 MiB of text in several scripts, one numbered line at a time.
QString megabyteOfText(const char* name) {
    QString text;
    for (int line = 0; text.size() * 2 < (1 << 20); ++line)
        text += QStringLiteral("%1 line %2: Grüße — 日本語のテキスト — emoji 🎉 and e\u0301\n").arg(QLatin1String(name)).arg(line);
    return text;
}

class ClipboardIntakeX11Test : public ::testing::Test {
protected:
    // Short deadlines by default, so that owners that never answer cost little time.
    explicit ClipboardIntakeX11Test(QtPasteboard::Timeouts timeouts = {500ms, 5000ms}) : board{timeouts} {}

    void SetUp() override { monitor.start(); }

    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = QString::fromStdString((folder / name.toStdString()).string());
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        return path;
    }

    bool settled() const { return !monitor.reading() && store.pendingImages() == 0; }

    // Waits until the newest clip satisfies the check.
    bool waitForFront(const std::function<bool(const Clip&)>& check, int timeoutMs = 5000) {
        return waitUntil([&] { return settled() && !store.items().empty() && check(store.items().front()); }, timeoutMs);
    }

    // Lets the monitor look at the clipboard for longer than one tick.
    void idle() { waitUntil([] { return false; }, 3 * ClipboardMonitor::intervalMs / 2); }

    TestFolder folder;
    TestFolder historyFolder;
    ClipStore store{historyFolder.path()};
    QtPasteboard board;
    X11Apps apps;
    Defaults defaults;
    ClipboardMonitor monitor{store, board, apps, defaults};
};

TEST_F(ClipboardIntakeX11Test, CopiesFromQtGtkAndXclipAreEachRecordedOnceAndPasswordsNever) {
    CopyingProgram qt(QStringLiteral(BREVALTO_BINARY_DIR "/tests/QtClipboardPeer"), {});
    CopyingProgram gtk(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(BREVALTO_SOURCE_DIR "/tests/Clipboard/Peers/gtk-clipboard-peer.py")});
    const Program programs[] = {
        {"Qt", [&](const char* command, const QString& path) { return qt.copy(command, path); }, true, true},
        {"GTK", [&](const char* command, const QString& path) { return gtk.copy(command, path); }, true, false},
        {"xclip",
         [](const char* command, const QString& path) {
             return Xclip::copyFile(path, QString::fromLatin1(std::string_view(command) == "image" ? "image/png"
                                                                                                 : "UTF8_STRING"));
         },
         true, false},
    };

    std::vector<Uuid> recorded;  // every clip recorded so far, in order
    int seed = 0;
    for (const Program& program : programs) {
        SCOPED_TRACE(program.name);
        const QString name = QString::fromLatin1(program.name);
        const QString texts[] = {
            QStringLiteral("plain ASCII copied in %1").arg(name),
            QStringLiteral("%1: Grüße, naïve café — 👋🏽 👨‍👩‍👧 e\u0301 a\u0308 日本語 ✓").arg(name),
            megabyteOfText(program.name),
        };
        for (const QString& text : texts) {
            SCOPED_TRACE(text.left(40).toStdString());
            QElapsedTimer clock;
            clock.start();
            ASSERT_TRUE(program.copy("text", file(name + QStringLiteral(".txt"), text.toUtf8())));
            const std::string expected = text.toStdString();
            ASSERT_TRUE(waitForFront([&](const Clip& clip) { return clip.text == expected; }))
                << "newest: " << store.items().front().text.value_or("(image)").view().substr(0, 60);
            EXPECT_LT(clock.elapsed(), 3000);
            recorded.push_back(store.items().front().id);
        }

        if (program.copiesImages) {
            const QImage picture = pictureFor(++seed);
            ASSERT_TRUE(program.copy("image", file(name + QStringLiteral(".png"), encodedImage(picture, "PNG"))));
            ASSERT_TRUE(waitForFront([&](const Clip& clip) { return clip.kind == Clip::Kind::image; }));
            const Clip& clip = store.items().front();
            ASSERT_TRUE(clip.imageFile);
            const QImage stored(QString::fromStdString((store.root() / *clip.imageFile).string()));
            EXPECT_EQ(stored.convertToFormat(QImage::Format_ARGB32), picture);
            recorded.push_back(clip.id);
        }

        if (program.marksPasswords) {
            ASSERT_TRUE(program.copy("secret", file(QStringLiteral("secret.txt"), "hunter2 from " + name.toUtf8())));
            // The copy after it is recorded; the password before it never was.
            const QString after = QStringLiteral("after the password in %1").arg(name);
            ASSERT_TRUE(program.copy("text", file(QStringLiteral("after.txt"), after.toUtf8())));
            ASSERT_TRUE(waitForFront([&](const Clip& clip) { return clip.text == after.toStdString(); }));
            recorded.push_back(store.items().front().id);
        }

        // Exactly once: nothing was recorded again (a second recording replaces the clip's id).
        idle();
        ASSERT_EQ(store.items().size(), recorded.size());
        for (std::size_t i = 0; i < recorded.size(); ++i) EXPECT_EQ(store.items()[recorded.size() - 1 - i].id, recorded[i]);
        for (const Clip& clip : store.items())
            EXPECT_EQ(clip.text.value_or("").view().find("hunter2"), std::string::npos);
    }
}

TEST_F(ClipboardIntakeX11Test, HostileOwnersNeverStopTheMonitor) {
    using Answer = FakePasteboardOwner::Answer;
    struct Case {
        const char* what;
        std::vector<FakePasteboardOwner::Target> targets;
        std::optional<std::string> recorded;  // none: nothing is recorded
    };
    const Case cases[] = {
        {"empty answers only", {{"UTF8_STRING", "", Answer::empty}, {"STRING", "", Answer::empty}}, std::nullopt},
        {"wrong format only", {{"UTF8_STRING", "abcdefgh", Answer::wrongFormat}}, std::nullopt},
        {"never answers the text", {{"UTF8_STRING", "x", Answer::silent}}, std::nullopt},
        {"quits in the middle", {{"UTF8_STRING", std::string(400 * 1024, 'q'), Answer::quitMidTransfer}}, std::nullopt},
        {"invalid UTF-8 is repaired", {{"UTF8_STRING", "ok \xff\xfe then \xc3"}}, "ok \xEF\xBF\xBD\xEF\xBF\xBD then \xEF\xBF\xBD"},
        {"garbage image, then text",
         {{"image/png", "\x89PNG\r\n\x1a\nnot an image"}, {"UTF8_STRING", "caption"}},
         std::nullopt},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = store.items().size();
        {
            FakePasteboardOwner owner(c.targets);
            ASSERT_TRUE(owner.owns());
            ASSERT_TRUE(waitUntil([&] { return owner.requests() >= 1; }));
            if (c.recorded) {
                ASSERT_TRUE(waitForFront([&](const Clip& clip) { return clip.text == c.recorded; }));
            } else {
                ASSERT_TRUE(waitUntil([&] { return !monitor.reading(); }, 3000));
                EXPECT_EQ(store.items().size(), before);
            }
        }
        // And the next ordinary copy is taken up at once.
        const std::string next = "next copy " + std::to_string(++n);
        ASSERT_TRUE(Xclip::copyFile(file(QStringLiteral("next.txt"), QByteArray::fromStdString(next))));
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(waitForFront([&](const Clip& clip) { return clip.text == next; }));
        EXPECT_LT(clock.elapsed(), 1500);
    }
}

TEST_F(ClipboardIntakeX11Test, TextBeyondTheLimitIsReportedNotRecorded) {
    const QByteArray huge(40 << 20, 'x');
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Xclip::copyFile(file(QStringLiteral("huge.txt"), huge)));
    ASSERT_TRUE(waitUntil([&] { return store.message() == ClipboardMonitor::textTooLargeMessage; }, 15000));
    EXPECT_TRUE(store.items().empty());
    // The panel's thread kept turning: the read happened elsewhere.
    ASSERT_TRUE(Xclip::copyFile(file(QStringLiteral("small.txt"), "small after huge")));
    ASSERT_TRUE(waitForFront([&](const Clip& clip) { return clip.text == std::string("small after huge"); }));
}

// The peak of this process's resident memory, in MiB.
long peakMemoryMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong() / 1024;
    }
    return 0;
}

// A file of `mib` MiB written in pieces, so that making it costs the test no memory.
QString bigFile(const TestFolder& folder, const QString& name, int mib, char fill) {
    const QString path = QString::fromStdString((folder / name.toStdString()).string());
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return {};
    const QByteArray piece(1 << 20, fill);
    for (int i = 0; i < mib; ++i) out.write(piece);
    return path;
}

// Reads with the deadlines the application itself has: an owner of a huge value may take a while
// before its first answer (GTK prepares the whole text first, most of a second for 200 MiB).
class LargeCopyIntakeX11Test : public ClipboardIntakeX11Test {
protected:
    LargeCopyIntakeX11Test() : ClipboardIntakeX11Test(QtPasteboard::Timeouts{}) {}
};

// How long xclip takes to read the whole of one target from the clipboard's owner, its output
// thrown away; none when it fails or takes longer than the limit.
std::optional<std::chrono::milliseconds> timedPlainRead(const QString& target, std::chrono::milliseconds limit) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                            QStringLiteral("-t"), target, QStringLiteral("-o")});
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, static_cast<int>(limit.count()))) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
    return std::chrono::milliseconds(clock.elapsed());
}

// An owner that offers more than we keep is refused, and is let finish its transfer: right after
// the refusal another program reads the clipboard from the same owner at once. We never hold
// more than the limit meanwhile.
// The owner decides how fast its value can be taken (xsel serves 200 MiB in small parts, which a
// loaded machine may need over 20 s to take), so no fixed deadline fits every machine. The
// refusal may take as long as a plain reader needs to drain the same owner, timed right after it,
// with a margin for a busy machine; never longer than the application lets an owner take, after
// which it stops draining and leaves the owner stuck.
TEST_F(LargeCopyIntakeX11Test, RefusedLargeCopiesLeaveTheirOwnerAnswering) {
    const QtPasteboard::Timeouts limits{};
    struct Case {
        const char* owner;
        int mib;
        bool image;
    };
    const Case cases[] = {
        {"xclip", 33, false}, {"xclip", 200, false}, {"xclip", 300, true},
        {"xsel", 33, false},  {"xsel", 200, false},  {"GTK", 33, false},   {"GTK", 200, false},
    };
    CopyingProgram gtk(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(BREVALTO_SOURCE_DIR "/tests/Clipboard/Peers/gtk-clipboard-peer.py")});
    const long memoryBefore = peakMemoryMiB();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.owner) + " " + std::to_string(c.mib) + " MiB" + (c.image ? " image" : ""));
        const QString target = c.image ? QStringLiteral("image/png") : QStringLiteral("UTF8_STRING");
        const QString path = bigFile(folder, QStringLiteral("big"), c.mib, c.image ? '\x89' : 'z');
        store.setMessage({});
        QProcess xsel;
        if (std::string_view(c.owner) == "xclip") {
            ASSERT_TRUE(Xclip::copyFile(path, target));
        } else if (std::string_view(c.owner) == "xsel") {
            xsel.setStandardInputFile(path);
            xsel.setStandardErrorFile(QProcess::nullDevice());
            xsel.start(QStringLiteral("xsel"), {QStringLiteral("--clipboard"), QStringLiteral("--input"),
                                                QStringLiteral("--nodetach")});
        } else {
            ASSERT_TRUE(gtk.copy("text", path));
        }
        const QString refusal = c.image ? ClipboardMonitor::imageTooLargeMessage : ClipboardMonitor::textTooLargeMessage;
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(waitUntil([&] { return store.message() == refusal && !monitor.reading(); },
                              static_cast<int>((limits.answer + limits.drain).count())))
            << store.message().toStdString();
        const auto refused = std::chrono::milliseconds(clock.elapsed());
        clock.restart();
        const auto targets = Xclip::paste(QStringLiteral("TARGETS"), 1000);
        ASSERT_TRUE(targets) << "the owner no longer answers";
        EXPECT_TRUE(targets->contains(target.toUtf8()));
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_TRUE(store.items().empty());
        const auto plainRead = timedPlainRead(target, limits.drain);
        ASSERT_TRUE(plainRead) << "xclip could not read the owner's value within " << limits.drain.count() << " ms";
        EXPECT_LE(refused, std::min(2 * *plainRead + 5000ms, limits.drain))
            << "refused after " << refused.count() << " ms; xclip read it in " << plainRead->count() << " ms";
        if (xsel.state() != QProcess::NotRunning) {
            xsel.kill();
            xsel.waitForFinished(2000);
        }
    }
    EXPECT_LT(peakMemoryMiB() - memoryBefore, 160);
}

}  // namespace
}  // namespace brevalto
