#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"
#include "Platform/Hashing.h"
#include "Platform/ScreenGeometry.h"
#include "Platform/Task.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <mutex>

#include <algorithm>
#include <numeric>

#include <atomic>
#include <fstream>
#include <thread>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st.st_mode & 0777;
}

// --- AtomicFile -------------------------------------------------------------------------------

TEST(AtomicFile, WritesPrivateFilesAndFoldersAndLeavesNoTemporaries) {
    TestFolder dir;
    const auto file = dir / "a" / "b" / "state.json";
    AtomicFile::write(file, std::string_view("first"));
    AtomicFile::write(file, std::string_view("second, longer"));
    EXPECT_EQ(AtomicFile::read(file, 100), "second, longer");
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(dir / "a"), 0700u);
    EXPECT_EQ(modeOf(dir / "a" / "b"), 0700u);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir / "a" / "b")) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(AtomicFile, RefusesSymbolicLinksWhereAsked) {
    TestFolder dir;
    const auto real = dir / "real";
    fs::create_directory(real);
    fs::create_directory_symlink(real, dir / "linked");
    EXPECT_THROW(AtomicFile::write(dir / "linked" / "x", std::string_view("x")), FileError);
    EXPECT_FALSE(fs::exists(real / "x"));
    AtomicFile::write(dir / "linked" / "x", std::string_view("x"), {.refuseSymlinks = false, .createFolder = true});
    EXPECT_TRUE(fs::exists(real / "x"));

    fs::create_symlink(real / "x", dir / "file-link");
    EXPECT_THROW(AtomicFile::write(dir / "file-link", std::string_view("y")), FileError);
    EXPECT_THROW(AtomicFile::read(dir / "file-link", 10), FileError);
    EXPECT_EQ(AtomicFile::read(dir / "file-link", 10, false), "x");
    EXPECT_THROW(AtomicFile::createFolder(dir / "linked"), FileError);
}

TEST(AtomicFile, ReadHoldsTheBound) {
    TestFolder dir;
    AtomicFile::write(dir / "f", std::string(11, 'x'));
    EXPECT_EQ(AtomicFile::read(dir / "f", 11).size(), 11u);
    EXPECT_THROW(AtomicFile::read(dir / "f", 10), FileError);
    EXPECT_THROW(AtomicFile::read(dir / "missing", 10), FileError);
    EXPECT_THROW(AtomicFile::read(dir.path(), 10), FileError);
}

// A mapped file ends in readable zeros wherever its end falls, also exactly at a page's end, and
// is refused for what read refuses.
TEST(AtomicFile, MappingPadsEveryEndWithZerosAndHoldsTheBound) {
    TestFolder dir;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    for (const std::size_t size : {std::size_t(0), std::size_t(11), page - 64, page - 63, page, 2 * page + 1}) {
        SCOPED_TRACE(size);
        std::string bytes(size, 'x');
        for (std::size_t i = 0; i < size; i += 7) bytes[i] = static_cast<char>('a' + i % 26);
        AtomicFile::write(dir / "f", bytes);
        const MappedFile mapped = AtomicFile::map(dir / "f", size, true, 64);
        EXPECT_EQ(mapped.bytes(), bytes);
        ASSERT_GE(mapped.padding(), 64u);
        const char* end = mapped.bytes().data() + size;
        EXPECT_EQ(std::count(end, end + mapped.padding(), '\0'), static_cast<long>(mapped.padding()));
    }
    MappedFile moved = AtomicFile::map(dir / "f", 2 * page + 1, true, 64);
    MappedFile target = std::move(moved);
    EXPECT_EQ(target.bytes().size(), 2 * page + 1);
    EXPECT_TRUE(moved.bytes().empty());

    EXPECT_THROW(AtomicFile::map(dir / "f", 2 * page, true, 64), FileError);
    EXPECT_THROW(AtomicFile::map(dir / "missing", 10, true, 64), FileError);
    EXPECT_THROW(AtomicFile::map(dir.path(), 10, true, 64), FileError);
    fs::create_symlink(dir / "f", dir / "link");
    EXPECT_THROW(AtomicFile::map(dir / "link", 3 * page, true, 64), FileError);
    EXPECT_EQ(AtomicFile::map(dir / "link", 3 * page, false, 64).bytes().size(), 2 * page + 1);
}

TEST(AtomicFile, StatusCreationAndRemovalNeverFollowALink) {
    TestFolder dir;
    AtomicFile::write(dir / "file", std::string(7, 'x'));
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "file", dir / "file-link");
    fs::create_directory_symlink(dir / "folder", dir / "folder-link");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const struct {
        const char* name;
        FileKind kind;
        std::uint64_t size;
    } cases[] = {
        {"file", FileKind::regular, 7},       {"folder", FileKind::folder, 0},
        {"file-link", FileKind::symlink, 0},  {"folder-link", FileKind::symlink, 0},
        {"fifo", FileKind::other, 0},         {"missing", FileKind::missing, 0},
    };
    for (const auto& c : cases) {
        const FileStatus status = AtomicFile::status(dir / c.name);
        EXPECT_EQ(status.kind, c.kind) << c.name;
        EXPECT_EQ(status.size, c.size) << c.name;
        std::error_code error;
        EXPECT_EQ(AtomicFile::status(dir / c.name, error).kind, c.kind) << c.name;
        EXPECT_EQ(static_cast<bool>(error), c.kind == FileKind::missing) << c.name;
    }
    // A path through a file cannot be examined: the throwing form says so, the other reports it.
    EXPECT_THROW(AtomicFile::status(dir / "file" / "inside"), FileError);
    std::error_code error;
    EXPECT_EQ(AtomicFile::status(dir / "file" / "inside", error).kind, FileKind::missing);
    EXPECT_EQ(error, std::errc::not_a_directory);

    // A new folder is private and never an existing one.
    AtomicFile::createNewFolder(dir / "new");
    EXPECT_EQ(modeOf(dir / "new"), 0700u);
    EXPECT_THROW(AtomicFile::createNewFolder(dir / "new"), FileError);
    EXPECT_THROW(AtomicFile::createNewFolder(dir / "folder-link"), FileError);
    EXPECT_THROW(AtomicFile::createNewFolder(dir / "absent" / "new"), FileError);

    // Removal takes the link, not its target, and never a folder.
    EXPECT_TRUE(AtomicFile::removeFile(dir / "file-link"));
    EXPECT_EQ(AtomicFile::status(dir / "file").kind, FileKind::regular);
    EXPECT_TRUE(AtomicFile::removeFile(dir / "folder-link"));
    EXPECT_EQ(AtomicFile::status(dir / "folder").kind, FileKind::folder);
    EXPECT_FALSE(AtomicFile::removeFile(dir / "folder"));
    EXPECT_EQ(AtomicFile::status(dir / "folder").kind, FileKind::folder);
    EXPECT_TRUE(AtomicFile::removeFile(dir / "file"));
    EXPECT_EQ(AtomicFile::status(dir / "file").kind, FileKind::missing);
    EXPECT_FALSE(AtomicFile::removeFile(dir / "file"));
}

TEST(AppPaths, PrivateFolderIsRefusedWhenOpenToOthersOrALink) {
    TestFolder dir;
    const auto ok = AppPaths::ensurePrivateFolder(dir / "mine");
    EXPECT_EQ(modeOf(ok), 0700u);
    fs::create_directory(dir / "open");
    fs::permissions(dir / "open", fs::perms(0777));
    EXPECT_THROW(AppPaths::ensurePrivateFolder(dir / "open"), FileError);
    fs::create_directory_symlink(dir / "mine", dir / "link");
    EXPECT_THROW(AppPaths::ensurePrivateFolder(dir / "link"), FileError);
}

TEST(AppPaths, XdgFoldersFallBackToTheRealHomeNeverToASharedFolder) {
    const QByteArray savedHome = qgetenv("HOME"), savedData = qgetenv("XDG_DATA_HOME");
    qunsetenv("HOME");
    qputenv("XDG_DATA_HOME", "relative/ignored");
    const struct passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(AppPaths::dataFolder(), fs::path(entry->pw_dir) / ".local" / "share" / "brevalto");
    qputenv("XDG_DATA_HOME", "/elsewhere/data");
    EXPECT_EQ(AppPaths::dataFolder(), fs::path("/elsewhere/data/brevalto"));
    qputenv("HOME", savedHome);
    if (savedData.isNull()) qunsetenv("XDG_DATA_HOME"); else qputenv("XDG_DATA_HOME", savedData);
}

// --- Defaults ---------------------------------------------------------------------------------

TEST(Defaults, TypesStayDistinctAndRegistrationFillsGaps) {
    Defaults d;
    d.registerDefaults({{"hoverOpen", true}, {"hotKeyCode", 49}});
    EXPECT_TRUE(d.boolValue("hoverOpen"));
    EXPECT_EQ(d.integer("hotKeyCode"), 49);
    d.set("hoverOpen", false);
    EXPECT_FALSE(d.boolValue("hoverOpen"));
    d.remove("hoverOpen");
    EXPECT_TRUE(d.boolValue("hoverOpen"));

    d.set("b", true);
    d.set("i", 3);
    d.set("f", 2.5);
    d.set("s", "text");
    d.setData("d", std::string_view("\x00\x01\xff", 3));
    EXPECT_EQ(d.storedBool("b"), true);
    EXPECT_EQ(d.storedDouble("b"), std::nullopt);
    EXPECT_EQ(d.storedDouble("i"), 3.0);
    EXPECT_EQ(d.storedDouble("f"), 2.5);
    EXPECT_EQ(d.storedDouble("s"), std::nullopt);
    EXPECT_EQ(d.storedBool("s"), std::nullopt);
    EXPECT_EQ(d.data("d"), std::string("\x00\x01\xff", 3));
    EXPECT_EQ(d.data("s"), std::nullopt);
    EXPECT_EQ(d.string("d"), std::nullopt);
}

TEST(Defaults, ReadersConvertLikeTheDocumentedTable) {
    struct Case {
        Defaults::Value stored;
        bool asBool;
        std::int64_t asInteger;
        double asDouble;
        std::optional<std::string> asString;
    };
    const Case cases[] = {
        {true, true, 1, 1.0, std::nullopt},
        {0, false, 0, 0.0, "0"},
        {7, true, 7, 7.0, "7"},
        {2.9, true, 2, 2.9, "2.9"},
        {-2.9, true, -2, -2.9, "-2.9"},
        {4.0, true, 4, 4.0, "4"},
        {"YES", true, 0, 0.0, "YES"},
        {"true", true, 0, 0.0, "true"},
        {"no", false, 0, 0.0, "no"},
        {"12abc", true, 12, 12.0, "12abc"},
        {"0", false, 0, 0.0, "0"},
        {"", false, 0, 0.0, ""},
        {Defaults::Value::array({1}), false, 0, 0.0, std::nullopt},
        {1e300, true, std::numeric_limits<std::int64_t>::max(), 1e300, "1e+300"},
    };
    for (const auto& c : cases) {
        Defaults d;
        d.set("k", c.stored);
        SCOPED_TRACE(c.stored.dump());
        EXPECT_EQ(d.boolValue("k"), c.asBool);
        EXPECT_EQ(d.integer("k"), c.asInteger);
        EXPECT_DOUBLE_EQ(d.doubleValue("k"), c.asDouble);
        EXPECT_EQ(d.string("k"), c.asString);
    }
    Defaults empty;
    EXPECT_FALSE(empty.boolValue("missing"));
    EXPECT_EQ(empty.integer("missing"), 0);
    EXPECT_EQ(empty.string("missing"), std::nullopt);
}

TEST(Defaults, FileRoundTripKeepsTypesAndSignalsChanges) {
    TestFolder dir;
    const auto file = dir / "config" / "defaults.json";
    {
        Defaults d(file);
        QSignalSpy spy(&d, &Defaults::changed);
        d.set("i", 5);
        d.set("f", 5.0);
        d.setData("blob", std::string_view("ab\0c", 4));
        d.set("nested", {{"list", {1, "two", 3.5}}});
        d.registerDefaults({{"volatile", 1}});
        ASSERT_EQ(spy.count(), 4);
        EXPECT_EQ(spy.at(0).at(0).toString(), QStringLiteral("i"));
        EXPECT_TRUE(d.lastWriteError().empty());
    }
    EXPECT_EQ(modeOf(file), 0600u);
    Defaults again(file);
    EXPECT_TRUE(again.object("i")->is_number_integer());
    EXPECT_TRUE(again.object("f")->is_number_float());
    EXPECT_EQ(again.data("blob"), std::string("ab\0c", 4));
    EXPECT_EQ((*again.dictionary("nested"))["list"][1], "two");
    EXPECT_FALSE(again.contains("volatile"));
}

// A file whose only member is named like the data marker is still the dictionary of settings: its
// setting reads back, and later changes are stored next to it.
TEST(Defaults, ATopLevelDataMarkerIsASetting) {
    TestFolder dir;
    const auto file = dir / "defaults.json";
    AtomicFile::write(file, std::string_view(R"({"$data":"not base64"})"));
    Defaults d(file);
    EXPECT_EQ(d.string("$data"), "not base64");
    d.set("k", 1);
    EXPECT_TRUE(d.lastWriteError().empty());
    const Defaults again(file);
    EXPECT_EQ(again.string("$data"), "not base64");
    EXPECT_EQ(again.integer("k"), 1);
}

TEST(Defaults, ACorruptFileIsMovedAsideNotOverwritten) {
    TestFolder dir;
    const auto file = dir / "defaults.json";
    AtomicFile::write(file, std::string_view("{not json"));
    Defaults d(file);
    EXPECT_FALSE(d.contains("anything"));
    auto aside = file;
    aside += ".corrupt";
    EXPECT_EQ(AtomicFile::read(aside, 100), "{not json");
    d.set("k", 1);
    EXPECT_EQ(Defaults(file).integer("k"), 1);
}

// --- Task -------------------------------------------------------------------------------------

TEST(Hashing, MatchesPublishedVectors) {
    EXPECT_EQ(toHex(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(toHex(sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(toHex(md5("")), "d41d8cd98f00b204e9800998ecf8427e");
    // RFC 4231, test case 2.
    EXPECT_EQ(toHex(hmacSha256("Jefe", "what do ya want for nothing?")),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(toBase64(""), "");
    EXPECT_EQ(toBase64("f"), "Zg==");
    EXPECT_EQ(toBase64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(toHex(std::string_view("\x00\xff", 2)), "00ff");
}

// Hashing, signing and random bytes on the shared pool's threads, as uploads do; those threads
// keep the crypto library's per-thread state until they end at exit. ctest runs this case again
// as Platform.unit.slowThreadExit, with that end slowed down: the process must still exit with 0.
TEST(Hashing, PoolThreadsAgreeAndTheProcessStillExitsCleanly) {
    const int jobs = 4 * std::max(QThread::idealThreadCount(), 2);
    const std::string expected = toHex(hmacSha256("key", toHex(sha256("payload"))));
    std::atomic<int> agreeing{0};
    for (int i = 0; i < jobs; ++i)
        TaskPool::shared().start([&] {
            std::array<unsigned char, 16> nonce{};
            if (secureRandomBytes(nonce.data(), nonce.size()) &&
                toHex(hmacSha256("key", toHex(sha256("payload")))) == expected)
                ++agreeing;
        });
    TaskPool::shared().waitForDone();
    EXPECT_EQ(agreeing.load(), jobs);
}

TEST(Task, DeliversResultsAndErrorsOnTheReceiversThread) {
    QObject receiver;
    std::optional<int> value;
    std::string error;
    bool onGuiThread = false;
    Task::run(&receiver, [](std::stop_token) { return 6 * 7; },
              [&](TaskResult<int>& r) {
                  onGuiThread = QThread::currentThread() == receiver.thread();
                  value = r.get();
              });
    Task::run(&receiver, [](std::stop_token) -> int { throw std::runtime_error("boom"); },
              [&](TaskResult<int>& r) {
                  try {
                      r.get();
                  } catch (const std::exception& e) {
                      error = e.what();
                  }
              });
    ASSERT_TRUE(waitUntil([&] { return value.has_value() && !error.empty(); }));
    EXPECT_EQ(*value, 42);
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(error, "boom");
}

TEST(Task, CancelledWorkSeesItsStopTokenAndIsNotDelivered) {
    QObject receiver;
    TaskPool pool(1);
    std::atomic<bool> started{false}, sawStop{false};
    bool delivered = false;
    auto handle = Task::run(pool, &receiver,
                            [&](std::stop_token stop) {
                                started = true;
                                while (!stop.stop_requested()) QThread::msleep(1);
                                sawStop = true;
                            },
                            [&](TaskResult<void>&) { delivered = true; });
    ASSERT_TRUE(waitUntil([&] { return started.load(); }));
    handle.cancel();
    pool.waitForDone();
    QCoreApplication::processEvents();
    EXPECT_TRUE(sawStop);
    EXPECT_FALSE(delivered);
}

TEST(Task, SerialWorkRunsOneAtATimeInOrderAndOutlivesItsExecutor) {
    TaskPool pool(4);
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running{0}, most{0};
    {
        SerialExecutor serial(pool);
        for (int i = 0; i < 20; ++i)
            serial.start([&, i] {
                most = std::max(most.load(), ++running);
                QThread::usleep(200);
                {
                    const std::lock_guard lock(mutex);
                    order.push_back(i);
                }
                --running;
            });
    }  // the executor goes with work still queued
    pool.waitForDone();
    std::vector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(most.load(), 1);
}

TEST(Task, ResultsForADestroyedReceiverAreDropped) {
    TaskPool pool(1);
    bool delivered = false;
    auto receiver = std::make_unique<QObject>();
    Task::run(pool, receiver.get(), [](std::stop_token) { QThread::msleep(20); return 1; },
              [&](TaskResult<int>&) { delivered = true; });
    receiver.reset();
    pool.waitForDone();
    QCoreApplication::processEvents();
    EXPECT_FALSE(delivered);
}

TEST(Task, AReceiverDestroyedJustAsItsWorkFinishesIsNeverTouched) {
    // Each receiver goes the moment its work returns, while the worker delivers: the result is
    // dropped, and (under AddressSanitizer) no freed receiver is ever used.
    TaskPool pool(4);
    std::atomic<int> delivered{0};
    for (int round = 0; round < 2000; ++round) {
        auto receiver = std::make_unique<QObject>();
        auto returning = std::make_shared<std::atomic<bool>>(false);
        Task::run(pool, receiver.get(),
                  [returning](std::stop_token) {
                      returning->store(true);
                      return 1;
                  },
                  [&](TaskResult<int>&) { ++delivered; });
        while (!returning->load()) std::this_thread::yield();
        receiver.reset();
    }
    pool.waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered.load(), 0);

    // A receiver on another thread gets its results there, and only while it lives.
    QThread thread;
    thread.start();
    auto* remote = new QObject;
    remote->moveToThread(&thread);
    std::atomic<bool> onItsThread{false}, done{false};
    Task::run(pool, remote, [](std::stop_token) { return 2; }, [&](TaskResult<int>& r) {
        onItsThread = QThread::currentThread() == &thread && r.get() == 2;
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
    EXPECT_TRUE(onItsThread);
    QMetaObject::invokeMethod(remote, [remote] { delete remote; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

TEST(Task, RequestTokensDropSupersededResults) {
    RequestToken token;
    const auto first = token.next();
    const auto second = token.next();
    EXPECT_FALSE(token.isCurrent(first));
    EXPECT_TRUE(token.isCurrent(second));
    token.invalidate();
    EXPECT_FALSE(token.isCurrent(second));
}

// --- ScreenGeometry ---------------------------------------------------------------------------

TEST(ScreenGeometry, FlipsAroundThePrimaryScreenAndRoundTrips) {
    const ScreenGeometry g(1080);
    // A 200x30 panel flush with the top of a 1920x1080 primary screen.
    EXPECT_EQ(g.toQt(QRectF(860, 1050, 200, 30)), QRectF(860, 0, 200, 30));
    // A screen above the primary one has negative Qt y.
    EXPECT_EQ(g.toQt(QRectF(0, 1080, 1920, 1200)), QRectF(0, -1200, 1920, 1200));
    EXPECT_EQ(g.toQt(QPointF(10, 0)), QPointF(10, 1080));
    const QRectF r(-300.5, 17.25, 40, 60);
    EXPECT_EQ(g.fromQt(g.toQt(r)), r);

    // A primary screen below another one starts lower in Qt's space; the origin is still its
    // bottom-left corner.
    const auto lower = ScreenGeometry::ofPrimaryScreen(QRectF(0, 1200, 1920, 1080));
    EXPECT_EQ(lower.fromQt(QRectF(0, 1200, 1920, 1080)), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(lower.fromQt(QRectF(0, 0, 1920, 1200)), QRectF(0, 1080, 1920, 1200));
}

}  // namespace
}  // namespace brevalto
