// Starts the built program as a user would, on the private X server of this test, and drives it
// from other processes: xclip copies, a second `brevalto URL`, the quit shortcut.
#include "Platform/AtomicFile.h"
#include "PrivateUser.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

const QString kProgram = QStringLiteral(BREVALTO_BINARY_DIR "/brevalto");

class AppEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        env_ = privateUserEnvironment(home_.path());
    }

    void TearDown() override {
        if (app_.state() != QProcess::NotRunning) {
            app_.kill();
            app_.waitForFinished(3000);
        }
    }

    // Runs a helper program to its end and returns its standard output.
    QString run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(program, args);
        if (!input.isNull()) {
            p.write(input);
            p.closeWriteChannel();
        }
        EXPECT_TRUE(p.waitForFinished(10000)) << program.toStdString();
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    nlohmann::json history() {
        try {
            return nlohmann::json::parse(AtomicFile::read(home_ / "data" / "brevalto" / "history.json", 1 << 20));
        } catch (const std::exception&) {
            return nlohmann::json::array();
        }
    }

    std::vector<std::string> historyTexts() {
        std::vector<std::string> texts;
        for (const auto& clip : history())
            if (clip.contains("text")) texts.push_back(clip["text"].get<std::string>());
        return texts;
    }

    // Gives the keyboard to a visible window with that exact name other than `except`.
    void activate(const QString& name, const QString& except = {}) {
        QString window;
        EXPECT_TRUE(waitUntil([&] {
            for (const QString& w : run("xdotool", {"search", "--onlyvisible", "--name", "^" + name + "$"}).split('\n'))
                if (!w.isEmpty() && w != except) window = w;
            return !window.isEmpty();
        }, 10000)) << name.toStdString();
        run("xdotool", {"windowactivate", "--sync", window});
    }

    bool hasWindowNamed(const QString& name) {
        return !run("xdotool", {"search", "--onlyvisible", "--name", name}).isEmpty();
    }

    TestFolder home_;
    QProcessEnvironment env_;
    QProcess app_;
};

TEST_F(AppEndToEnd, RecordsCopiesOpensLinksFromASecondProcessAndQuits) {
    // Text on the clipboard before the start is not recorded.
    QProcess before;
    before.setProcessEnvironment(env_);
    before.start("xclip", {"-selection", "clipboard", "-i"});
    before.write("copied before the start");
    before.closeWriteChannel();
    ASSERT_TRUE(before.waitForFinished(5000));

    app_.setProcessEnvironment(env_);
    app_.setProcessChannelMode(QProcess::ForwardedChannels);
    app_.start(kProgram, {});
    ASSERT_TRUE(app_.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return hasWindowNamed("Brevalto"); }, 10000)) << "the panel never mapped";

    run("xclip", {"-selection", "clipboard", "-i"}, "hello from another app");
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto texts = historyTexts();
            return std::find(texts.begin(), texts.end(), "hello from another app") != texts.end();
        },
        10000));
    const auto texts = historyTexts();
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "copied before the start"), texts.end());

    QProcess second;
    second.setProcessEnvironment(env_);
    second.start(kProgram, {"brevalto://settings"});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    ASSERT_TRUE(waitUntil([&] { return hasWindowNamed("Brevalto Settings"); }, 10000));
    EXPECT_EQ(app_.state(), QProcess::Running);

    // Ctrl+Q in the settings window quits.
    const QString window = run("xdotool", {"search", "--onlyvisible", "--name", "Brevalto Settings"}).split('\n').first();
    run("xdotool", {"windowactivate", "--sync", window});
    run("xdotool", {"key", "--clearmodifiers", "ctrl+q"});
    ASSERT_TRUE(app_.waitForFinished(10000)) << "the app did not quit";
    EXPECT_EQ(app_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app_.exitCode(), 0);
}

TEST_F(AppEndToEnd, TheDefaultClipboardHotKeyOpensAndClosesThePanel) {
    app_.setProcessEnvironment(env_);
    app_.setProcessChannelMode(QProcess::ForwardedChannels);
    app_.start(kProgram, {});
    ASSERT_TRUE(app_.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return hasWindowNamed("Brevalto"); }, 10000)) << "the panel never mapped";
    const QString panel = run("xdotool", {"search", "--onlyvisible", "--name", "^Brevalto$"}).split('\n').first();
    auto height = [&] {
        const QString info = run("xwininfo", {"-id", panel});
        const auto match = QRegularExpression(QStringLiteral("Height:\\s+(\\d+)")).match(info);
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    };
    const int closed = height();
    ASSERT_GT(closed, 0);

    run("xdotool", {"key", "super+shift+space"});
    ASSERT_TRUE(waitUntil([&] { return height() > closed + 100; }, 10000)) << "the hot key did not open the panel";
    run("xdotool", {"key", "super+shift+space"});
    ASSERT_TRUE(waitUntil([&] { return height() == closed; }, 10000)) << "the hot key did not close the panel";

    app_.terminate();
    ASSERT_TRUE(app_.waitForFinished(10000));
    EXPECT_EQ(app_.exitCode(), 0);
}

TEST_F(AppEndToEnd, ASecondStartWithoutAnInstanceRunsTheLinkItselfAndTerminationIsClean) {
    app_.setProcessEnvironment(env_);
    app_.start(kProgram, {"brevalto://settings"});
    ASSERT_TRUE(app_.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return hasWindowNamed("Brevalto Settings"); }, 10000));
    app_.terminate();
    ASSERT_TRUE(app_.waitForFinished(10000));
    EXPECT_EQ(app_.exitCode(), 0);
}

TEST_F(AppEndToEnd, AScreenCaptureLinkBecomesAnImageClipAndIsSavedWhereTheUserChose) {
    app_.setProcessEnvironment(env_);
    app_.setProcessChannelMode(QProcess::ForwardedChannels);
    app_.start(kProgram, {});
    ASSERT_TRUE(app_.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return hasWindowNamed("Brevalto"); }, 10000)) << "the panel never mapped";
    const QString panel = run("xdotool", {"search", "--onlyvisible", "--name", "^Brevalto$"});

    QProcess link;
    link.setProcessEnvironment(env_);
    link.start(kProgram, {"brevalto://capture?mode=screen&after=save"});
    ASSERT_TRUE(link.waitForFinished(10000));
    // The confirmation: from its default Cancel to "Allow once".
    activate("Brevalto", panel);
    run("xdotool", {"key", "shift+Tab", "space"});

    const fs::path folder = home_ / "shots";
    AtomicFile::createFolder(folder);
    activate("Save As");
    run("xdotool", {"type", QString::fromStdString((folder / "capture.png").string())});
    run("xdotool", {"key", "Return"});
    ASSERT_TRUE(waitUntil([&] { return fs::exists(folder / "capture.png"); }, 10000)) << "nothing was saved";
    const auto clips = history();
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0]["source"], "Screenshot");
    const QImage saved(QString::fromStdString((folder / "capture.png").string()));
    EXPECT_FALSE(saved.isNull());
    EXPECT_EQ(saved, QImage(QString::fromStdString(
                         (home_ / "data" / "brevalto" / clips[0]["imageFile"].get<std::string>()).string())));

    app_.terminate();
    ASSERT_TRUE(app_.waitForFinished(10000));
    EXPECT_EQ(app_.exitCode(), 0);
}

}  // namespace
}  // namespace brevalto
