#include "App/SingleInstance.h"
#include "Platform/AtomicFile.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QtEndian>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <vector>
#include <thread>

namespace brevalto {
namespace {

QString socketIn(const TestFolder& dir) { return QString::fromStdString((dir / "brevalto.socket").string()); }

// Sends from another thread, since the listener answers from this thread's event loop.
bool sendFromAnotherProcessLike(const QString& path, const QStringList& urls) {
    auto result = std::async(std::launch::async, [&] {
        SingleInstance second(path);
        return second.send(urls) == SingleInstance::Handover::accepted;
    });
    while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return result.get();
}

// Writes raw bytes to the listener and reports whether it answered.
bool rawPeer(const QString& path, const QByteArray& bytes) {
    auto result = std::async(std::launch::async, [&] {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (!socket.waitForConnected(1000)) return false;
        socket.write(bytes);
        socket.flush();
        return socket.waitForReadyRead(2500) && socket.readAll() == "1";
    });
    while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return result.get();
}

QByteArray frame(const QByteArray& body, quint32 announced) {
    uchar header[4];
    qToBigEndian<quint32>(announced, header);
    return QByteArray(reinterpret_cast<const char*>(header), 4) + body;
}

TEST(SingleInstance, TheSecondProcessHandsItsUrlListOverUnchanged) {
    TestFolder dir;
    SingleInstance first(socketIn(dir));
    ASSERT_EQ(first.start(), SingleInstance::Role::primary);
    QSignalSpy received(&first, &SingleInstance::urlsReceived);

    SingleInstance probe(socketIn(dir));
    EXPECT_EQ(probe.start(), SingleInstance::Role::secondary);

    ASSERT_TRUE(sendFromAnotherProcessLike(socketIn(dir), {"brevalto://settings"}));
    ASSERT_TRUE(sendFromAnotherProcessLike(socketIn(dir), {"brevalto://capture", "brevalto://history"}));
    ASSERT_TRUE(waitUntil([&] { return received.count() == 2; }));
    EXPECT_EQ(received.at(0).at(0).toStringList(), QStringList{"brevalto://settings"});
    EXPECT_EQ(received.at(1).at(0).toStringList(), (QStringList{"brevalto://capture", "brevalto://history"}));
}

TEST(SingleInstance, GarbageOversizedAndSilentPeersAreDropped) {
    TestFolder dir;
    SingleInstance first(socketIn(dir));
    ASSERT_EQ(first.start(), SingleInstance::Role::primary);
    QSignalSpy received(&first, &SingleInstance::urlsReceived);

    EXPECT_FALSE(rawPeer(socketIn(dir), frame(QByteArray(10, 'x'), SingleInstance::kMaxMessageBytes + 1)));
    EXPECT_FALSE(rawPeer(socketIn(dir), frame("short", 100)));  // announces more than it sends
    EXPECT_FALSE(rawPeer(socketIn(dir), frame("\xff\xfe", 2)));  // not UTF-8
    EXPECT_FALSE(rawPeer(socketIn(dir), QByteArray()));          // says nothing
    EXPECT_EQ(received.count(), 0);

    // The listener still serves afterwards.
    EXPECT_TRUE(rawPeer(socketIn(dir), frame("brevalto://history", 18)));
    ASSERT_TRUE(waitUntil([&] { return received.count() == 1; }));
}

TEST(SingleInstance, AStaleSocketFileDoesNotStopTheNextStart) {
    TestFolder dir;
    {
        // A listener that went away without cleaning up leaves its socket file behind.
        QLocalServer crashed;
        crashed.setSocketOptions(QLocalServer::UserAccessOption);
        ASSERT_TRUE(crashed.listen(socketIn(dir)));
        ::close(static_cast<int>(crashed.socketDescriptor()));
    }
    AtomicFile::write(dir / "brevalto.socket", std::string_view("stale"), {.refuseSymlinks = false, .createFolder = true});
    SingleInstance next(socketIn(dir));
    EXPECT_EQ(next.start(), SingleInstance::Role::primary);
    SingleInstance again(socketIn(dir));
    EXPECT_EQ(again.start(), SingleInstance::Role::secondary);
}

TEST(SingleInstance, StartsAtTheSameMomentLeaveExactlyOneListener) {
    // Two listeners would be two apps writing one history. Starters race each other with and
    // without a stale socket file left behind.
    constexpr int kStarters = 8;
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        TestFolder dir;
        if (round % 2 == 1)
            AtomicFile::write(dir / "brevalto.socket", std::string_view("stale"),
                              {.refuseSymlinks = false, .createFolder = true});
        std::atomic<int> ready{0}, finished{0};
        std::vector<std::future<SingleInstance::Role>> starts;
        for (int i = 0; i < kStarters; ++i) {
            starts.push_back(std::async(std::launch::async, [&] {
                SingleInstance instance(socketIn(dir));
                ++ready;
                while (ready.load() < kStarters) std::this_thread::yield();
                const SingleInstance::Role role = instance.start();
                // Every listener stays up until all have started.
                ++finished;
                while (finished.load() < kStarters) std::this_thread::yield();
                return role;
            }));
        }
        int primaries = 0;
        for (auto& start : starts) primaries += start.get() == SingleInstance::Role::primary;
        EXPECT_EQ(primaries, 1);
    }
}

TEST(SingleInstance, SendingWithNobodyListeningFailsWithAReason) {
    TestFolder dir;
    SingleInstance nobody(socketIn(dir));
    EXPECT_EQ(nobody.send({"brevalto://history"}, 200), SingleInstance::Handover::failed);
    EXPECT_FALSE(nobody.errorString().isEmpty());
}

}  // namespace
}  // namespace brevalto
