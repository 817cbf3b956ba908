// The main of every test program: a QApplication (offscreen unless the test runs on a private
// X server, see with-x11) so that widgets, timers and queued results work, then GoogleTest.
#include "Platform/ProcessStart.h"

#include <QApplication>
#include <QImageReader>

#include <gtest/gtest.h>

namespace {

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform cannot raise or shape windows and says so on every call.
void quietOffscreenNotices(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
    defaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    brevalto::startProcess();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    defaultHandler = qInstallMessageHandler(quietOffscreenNotices);
    QApplication::setApplicationName(QStringLiteral("BrevaltoTests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
