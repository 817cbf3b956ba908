// The main of every test program: a QApplication (offscreen unless the test runs on a private
// X server, see with-x11) so that widgets, timers and queued results work, then GoogleTest.
#include <QApplication>
#include <QImageReader>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BrevaltoTests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
