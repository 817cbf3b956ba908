#pragma once

#include "QtWait.h"
#include "RunProgram.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <memory>

namespace brevalto {

// An X server of its own (Xvfb, 1920x1080), for tests that need a display without a window
// manager, or one whose window manager they start, stop and replace themselves. Programs run
// on it get `environment()`.
class PrivateDisplay {
public:
    PrivateDisplay() {
        server_.setStandardErrorFile(QProcess::nullDevice());
        server_.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                               QStringLiteral("0"), QStringLiteral("1920x1080x24"),
                                               QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                               // Without it the server resets whenever its last client leaves, as
                                               // the tests' short xprop runs do, and drops a window manager that is
                                               // still connecting then (a desktop's server never does that).
                                               QStringLiteral("-noreset")});
        if (waitUntil([&] { return server_.canReadLine() || server_.state() == QProcess::NotRunning; }, 10000) &&
            server_.canReadLine())
            name_ = QLatin1Char(':') + QString::fromLatin1(server_.readLine().trimmed());
    }
    ~PrivateDisplay() {
        windowManager_.reset();
        server_.terminate();
        if (!server_.waitForFinished(3000)) server_.kill();
        server_.waitForFinished(3000);
    }
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    bool running() const { return !name_.isEmpty(); }
    QString name() const { return name_; }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), name_);
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return env;
    }

    // Runs a program on this display to its end (at most 5 s) and returns its standard output.
    QString run(const QString& program, const QStringList& arguments) const {
        return runProgram(program, arguments, environment());
    }

    // Whether a window manager has announced itself on the root window and its announcing window
    // exists (one that went away may leave its last announcement behind).
    bool windowManagerReady() const {
        const QString out = run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        const qsizetype at = out.indexOf(QStringLiteral("# "));
        if (!out.contains(QStringLiteral("window id")) || at < 0) return false;
        return run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), out.mid(at + 2).trimmed()}).contains(QStringLiteral("Map State"));
    }

    // Starts openbox (replacing a running window manager with replace); stopWindowManager ends
    // the one started here.
    void startWindowManager(bool replace = false) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(QStringLiteral("openbox"), replace ? QStringList{QStringLiteral("--replace")} : QStringList{});
        process->waitForStarted(5000);
        if (windowManager_) windowManager_->waitForFinished(5000);  // replaced: it leaves by itself
        windowManager_ = std::move(process);
    }
    void stopWindowManager() {
        if (!windowManager_) return;
        windowManager_->terminate();
        if (!windowManager_->waitForFinished(3000)) windowManager_->kill();
        windowManager_->waitForFinished(3000);
        windowManager_.reset();
    }

private:
    QProcess server_;
    QString name_;
    std::unique_ptr<QProcess> windowManager_;
};

}  // namespace brevalto
