#include "Platform/Linux/QtPasteboard.h"

#include "FakePasteboardOwner.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

using namespace std::chrono_literals;

QString writeFile(const TestFolder& folder, const std::string& name, const QByteArray& bytes) {
    const QString path = QString::fromStdString((folder / name).string());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    file.write(bytes);
    return path;
}

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    auto* words = reinterpret_cast<quint32*>(bytes.data());
    QRandomGenerator generator(7);
    generator.fillRange(words, size / 4);
    return bytes;
}

// Waits for the board's answers on this thread.
struct Reads {
    QObject receiver;

    std::optional<QStringList> types(Pasteboard& board) {
        bool done = false;
        std::optional<QStringList> answer;
        board.readTypes(&receiver, [&](std::optional<QStringList> types) {
            answer = std::move(types);
            done = true;
        });
        EXPECT_TRUE(waitUntil([&] { return done; }, 20000));
        return answer;
    }

    PasteboardData data(Pasteboard& board, const QString& type, std::int64_t maxBytes = 64 << 20) {
        bool done = false;
        PasteboardData answer;
        board.readData(type, maxBytes, &receiver, [&](PasteboardData data) {
            answer = std::move(data);
            done = true;
        });
        EXPECT_TRUE(waitUntil([&] { return done; }, 20000));
        return answer;
    }
};

class QtPasteboardX11Test : public ::testing::Test {
protected:
    // A copy by another client moves our change count once it is noticed; then the count holds
    // still (an earlier owner's exit may be noticed just after).
    bool waitForChange(std::int64_t before) {
        if (!waitUntil([&] { return board.changeCount() != before; })) return false;
        for (auto seen = board.changeCount();; seen = board.changeCount()) {
            waitUntil([] { return false; }, 60);
            if (board.changeCount() == seen) return true;
        }
    }

    TestFolder folder;
    QtPasteboard board{QtPasteboard::Timeouts{400ms, 5000ms}};
    Reads reads;
};

TEST_F(QtPasteboardX11Test, ReadsTextCopiedByAnotherClient) {
    const QString text = QStringLiteral("Grüße aus dem Terminal ✓");
    QSignalSpy changed(&board, &Pasteboard::changed);
    const auto before = board.changeCount();
    ASSERT_TRUE(Xclip::copyFile(writeFile(folder, "text.txt", text.toUtf8())));
    ASSERT_TRUE(waitForChange(before));
    EXPECT_GE(changed.count(), 1);

    auto types = reads.types(board);
    ASSERT_TRUE(types);
    EXPECT_TRUE(types->contains(PasteboardType::string));
    EXPECT_FALSE(types->contains(PasteboardType::png));
    PasteboardData data = reads.data(board, PasteboardType::string);
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(QString::fromUtf8(data.bytes), text);
}

TEST_F(QtPasteboardX11Test, ReadsLargeValuesInPartsAndEnforcesTheLimit) {
    // Large enough that xclip sends it in parts.
    const QByteArray png = randomBytes(9 << 20);
    const auto before = board.changeCount();
    ASSERT_TRUE(Xclip::copyFile(writeFile(folder, "big.png", png), QStringLiteral("image/png")));
    ASSERT_TRUE(waitForChange(before));

    auto types = reads.types(board);
    ASSERT_TRUE(types);
    EXPECT_TRUE(types->contains(PasteboardType::png));
    PasteboardData whole = reads.data(board, PasteboardType::png);
    ASSERT_TRUE(whole.ok());
    EXPECT_TRUE(whole.bytes == png);

    PasteboardData limited = reads.data(board, PasteboardType::png, png.size() - 1);
    EXPECT_EQ(limited.status, PasteboardData::Status::tooLarge);
    EXPECT_TRUE(limited.bytes.isEmpty());
    // A read at the exact size still works after the abandoned one.
    EXPECT_TRUE(reads.data(board, PasteboardType::png, png.size()).ok());
}

TEST_F(QtPasteboardX11Test, PasswordHintConcealsTheContent) {
    struct Case {
        std::string hint;
        bool concealed;
    };
    for (const Case& c : {Case{"secret", true}, Case{"public", false}}) {
        const auto before = board.changeCount();
        FakePasteboardOwner owner({{"UTF8_STRING", "hunter2"}, {"x-kde-passwordManagerHint", c.hint}});
        ASSERT_TRUE(owner.owns());
        ASSERT_TRUE(waitForChange(before));
        auto types = reads.types(board);
        ASSERT_TRUE(types);
        EXPECT_EQ(types->contains(PasteboardType::concealed), c.concealed) << c.hint;
        EXPECT_TRUE(types->contains(PasteboardType::string));
    }
}

TEST_F(QtPasteboardX11Test, SlowOrGarbageOwnersNeitherBlockNorBreakReading) {
    struct Case {
        const char* what;
        FakePasteboardOwner::Behaviour behaviour;
    };
    for (const Case& c : {Case{"silent", FakePasteboardOwner::Behaviour::silent},
                          Case{"garbage", FakePasteboardOwner::Behaviour::garbageTargets}}) {
        const auto before = board.changeCount();
        FakePasteboardOwner owner({{"UTF8_STRING", "x"}}, c.behaviour);
        ASSERT_TRUE(waitForChange(before));

        // The GUI thread keeps turning while the read waits for the owner.
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(reads.types(board).has_value()) << c.what;
        EXPECT_LT(clock.elapsed(), 3000) << c.what;
        if (c.behaviour == FakePasteboardOwner::Behaviour::silent) {
            EXPECT_GE(ticks, 10) << c.what;
        }
    }
    // Reading works again with the next owner.
    const auto before = board.changeCount();
    ASSERT_TRUE(Xclip::copyFile(writeFile(folder, "after.txt", "after")));
    ASSERT_TRUE(waitForChange(before));
    EXPECT_EQ(reads.data(board, PasteboardType::string).bytes, QByteArray("after"));
}

TEST_F(QtPasteboardX11Test, ANewCopyEndsAReadOfTheOldOne) {
    QtPasteboard patient{QtPasteboard::Timeouts{10000ms, 20000ms}};
    auto before = patient.changeCount();
    auto owner = std::make_unique<FakePasteboardOwner>(std::vector<FakePasteboardOwner::Target>{{"UTF8_STRING", "x"}},
                                                       FakePasteboardOwner::Behaviour::silent);
    ASSERT_TRUE(waitUntil([&] { return patient.changeCount() != before; }));

    bool done = false;
    std::optional<QStringList> answer{QStringList{}};
    patient.readTypes(&reads.receiver, [&](std::optional<QStringList> types) {
        answer = std::move(types);
        done = true;
    });
    QThread::msleep(100);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Xclip::copyFile(writeFile(folder, "new.txt", "new")));
    ASSERT_TRUE(waitUntil([&] { return done; }, 5000));
    EXPECT_FALSE(answer.has_value());
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(reads.data(patient, PasteboardType::string).bytes, QByteArray("new"));
}

// A read that runs out of time in the middle of a transfer still takes the transfer to its end,
// so that its owner is free to serve others again.
TEST_F(QtPasteboardX11Test, AReadOutOfTimeStillEndsTheTransfer) {
    QtPasteboard hurried{QtPasteboard::Timeouts{2000ms, 150ms}};
    const auto before = hurried.changeCount();
    auto owner = std::make_unique<FakePasteboardOwner>(std::vector<FakePasteboardOwner::Target>{
        {"UTF8_STRING", std::string(1 << 20, 'x'), FakePasteboardOwner::Answer::slowIncremental}});
    ASSERT_TRUE(waitUntil([&] { return hurried.changeCount() != before; }));
    EXPECT_EQ(reads.data(hurried, PasteboardType::string).status, PasteboardData::Status::failed);
    EXPECT_TRUE(waitUntil([&] { return owner->finishedTransfers() == 1; }, 3000));
    // The owner's going away is noticed here, not by the next test.
    const auto held = board.changeCount();
    owner.reset();
    waitForChange(held);
}

TEST_F(QtPasteboardX11Test, WrittenItemIsServedToOtherClients) {
    const QByteArray png = randomBytes(5 << 20);
    PasteboardItem item;
    item.setData(PasteboardType::png, png);
    item.setString(QStringLiteral("app.brevalto.restored"), QStringLiteral("1"));
    item.setString(PasteboardType::source, QStringLiteral("org.gimp.GIMP"));
    const auto before = board.changeCount();
    ASSERT_TRUE(board.write(item));
    const auto after = board.changeCount();
    EXPECT_GT(after, before);

    auto targets = Xclip::paste(QStringLiteral("TARGETS"));
    ASSERT_TRUE(targets);
    for (const char* target : {"image/png", "app.brevalto.restored", "org.nspasteboard.source"}) {
        EXPECT_TRUE(targets->split('\n').contains(QByteArray(target))) << target << "\n" << targets->constData();
    }
    EXPECT_EQ(Xclip::paste(QStringLiteral("image/png")), std::optional<QByteArray>(png));
    EXPECT_EQ(Xclip::paste(QStringLiteral("app.brevalto.restored")), std::optional<QByteArray>("1"));
    EXPECT_EQ(Xclip::paste(QStringLiteral("org.nspasteboard.source")), std::optional<QByteArray>("org.gimp.GIMP"));
    // Serving other clients is no change of content.
    EXPECT_EQ(board.changeCount(), after);
    // And we read our own content as we wrote it.
    auto types = reads.types(board);
    ASSERT_TRUE(types);
    EXPECT_TRUE(types->contains(PasteboardType::png));
    EXPECT_TRUE(types->contains(QStringLiteral("app.brevalto.restored")));
    EXPECT_TRUE(reads.data(board, PasteboardType::png).bytes == png);

    PasteboardItem text;
    text.setString(PasteboardType::string, QStringLiteral("naïve café"));
    ASSERT_TRUE(board.write(text));
    for (const char* target : {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain"}) {
        EXPECT_EQ(Xclip::paste(QString::fromLatin1(target)), std::optional<QByteArray>(QStringLiteral("naïve café").toUtf8()))
            << target;
    }
}

TEST_F(QtPasteboardX11Test, ConcealedWritesCarryThePasswordHint) {
    PasteboardItem item;
    item.setString(PasteboardType::string, QStringLiteral("hunter2"));
    item.setData(PasteboardType::concealed, QByteArray());
    ASSERT_TRUE(board.write(item));
    EXPECT_EQ(Xclip::paste(QStringLiteral("x-kde-passwordManagerHint")), std::optional<QByteArray>("secret"));

    // Our own content is read as another owner's is: an empty value counts as none.
    PasteboardItem empty;
    empty.setString(PasteboardType::string, QString());
    ASSERT_TRUE(board.write(empty));
    EXPECT_EQ(reads.data(board, PasteboardType::string).status, PasteboardData::Status::absent);
}

}  // namespace
}  // namespace brevalto

namespace brevalto {
namespace {

using Answer = FakePasteboardOwner::Answer;
using Target = FakePasteboardOwner::Target;

TEST_F(QtPasteboardX11Test, EachTargetOfATypeIsTriedUntilOneGivesData) {
    const std::string big(600 * 1024, 'b');
    struct Case {
        const char* what;
        QString type;
        std::vector<Target> targets;
        PasteboardData::Status status;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"empty answer first, as a Qt owner gives", PasteboardType::string,
         {{"text/plain;charset=utf-8", "", Answer::empty}, {"UTF8_STRING", "from a Qt program"}},
         PasteboardData::Status::ok, "from a Qt program"},
        {"refusal first", PasteboardType::string,
         {{"text/plain;charset=utf-8", "x", Answer::refuse}, {"UTF8_STRING", "second target"}},
         PasteboardData::Status::ok, "second target"},
        {"no answer first", PasteboardType::string,
         {{"text/plain;charset=utf-8", "x", Answer::silent}, {"UTF8_STRING", "after a time-out"}},
         PasteboardData::Status::ok, "after a time-out"},
        {"wrong format first", PasteboardType::string,
         {{"text/plain;charset=utf-8", "abcdefgh", Answer::wrongFormat}, {"text/plain", "plain"}},
         PasteboardData::Status::ok, "plain"},
        {"Latin-1 only", PasteboardType::string, {{"STRING", "caf\xe9"}}, PasteboardData::Status::ok,
         QStringLiteral("café").toUtf8()},
        {"every target empty", PasteboardType::string,
         {{"UTF8_STRING", "", Answer::empty}, {"STRING", "", Answer::empty}}, PasteboardData::Status::absent, {}},
        {"every target silent", PasteboardType::string,
         {{"UTF8_STRING", "x", Answer::silent}, {"STRING", "x", Answer::silent}}, PasteboardData::Status::failed, {}},
        {"incremental transfer", PasteboardType::png,
         {{"image/png", big, Answer::incremental}}, PasteboardData::Status::ok, QByteArray::fromStdString(big)},
        {"owner quits in the middle", PasteboardType::string,
         {{"UTF8_STRING", big, Answer::quitMidTransfer}}, PasteboardData::Status::failed, {}},
        {"file list from a GTK file manager", PasteboardType::fileURL,
         {{"x-special/gnome-copied-files", "copy\nfile:///tmp/a.txt\nfile:///tmp/b%20c.png"}},
         PasteboardData::Status::ok, "file:///tmp/a.txt\r\nfile:///tmp/b%20c.png\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = board.changeCount();
        FakePasteboardOwner owner(c.targets);
        ASSERT_TRUE(owner.owns());
        ASSERT_TRUE(waitForChange(before));
        auto types = reads.types(board);
        ASSERT_TRUE(types);
        EXPECT_TRUE(types->contains(c.type));
        QElapsedTimer clock;
        clock.start();
        const PasteboardData data = reads.data(board, c.type, 1 << 20);
        EXPECT_EQ(data.status, c.status);
        EXPECT_TRUE(data.bytes == c.bytes) << data.bytes.left(80).toStdString();
        // One time-out per target at most, well inside the whole transfer's bound.
        EXPECT_LT(clock.elapsed(), 400 * static_cast<qint64>(c.targets.size()) + 1500);
    }
}

TEST_F(QtPasteboardX11Test, AReadOfAnOwnerThatWentAwayEndsAtOnceAndTheNextCopyIsRead) {
    const auto before = board.changeCount();
    {
        FakePasteboardOwner owner({{"UTF8_STRING", std::string(300 * 1024, 'q'), Answer::quitMidTransfer}});
        ASSERT_TRUE(waitForChange(before));
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(reads.data(board, PasteboardType::string).status, PasteboardData::Status::failed);
        EXPECT_LT(clock.elapsed(), 1000);
    }
    const auto after = board.changeCount();
    ASSERT_TRUE(Xclip::copyFile(writeFile(folder, "next.txt", "next")));
    ASSERT_TRUE(waitForChange(after));
    EXPECT_EQ(reads.data(board, PasteboardType::string).bytes, QByteArray("next"));
}

}  // namespace
}  // namespace brevalto
