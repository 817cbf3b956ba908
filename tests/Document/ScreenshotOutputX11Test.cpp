#include "Document/ScreenshotOutput.h"
#include "FakePasteboardOwner.h"
#include "Platform/AtomicFile.h"
#include "Platform/Linux/QtPasteboard.h"
#include "TestFolder.h"

#include <QImage>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

// What another program sees of the app's copies: the content and both markers, through xclip.
TEST(ScreenshotOutputX11Test, AnotherProgramReadsTheCopiesWithTheirMarkers) {
    TestFolder folder;
    QtPasteboard board;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    AtomicFile::write(folder / "shot.png", std::string_view("png"));
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString((folder / "shot.png").string()));

    struct Case {
        const char* name;
        std::function<void()> copy;
        QString target;
    } cases[] = {
        {"image", [&] { ScreenshotOutput::copyImage(image, board); }, QStringLiteral("image/png")},
        {"file URL", [&] { ScreenshotOutput::copyFileURL(url, board); }, QStringLiteral("text/uri-list")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.copy();
        const auto targets = Xclip::paste(QStringLiteral("TARGETS"));
        ASSERT_TRUE(targets);
        const QList<QByteArray> list = targets->split('\n');
        for (const char* expected : {"app.brevalto.restored", "org.nspasteboard.source"})
            EXPECT_TRUE(list.contains(expected)) << targets->toStdString();
        EXPECT_TRUE(list.contains(c.target.toLatin1())) << targets->toStdString();
        EXPECT_FALSE(list.contains(c.target == "image/png" ? "text/uri-list" : "image/png"));  // replaced
        EXPECT_EQ(Xclip::paste(QStringLiteral("app.brevalto.restored")), std::optional<QByteArray>("1"));
        EXPECT_EQ(Xclip::paste(QStringLiteral("org.nspasteboard.source")), std::optional<QByteArray>("app.brevalto"));
        const auto content = Xclip::paste(c.target);
        ASSERT_TRUE(content);
        if (c.target == "image/png") {
            EXPECT_EQ(QImage::fromData(*content, "PNG").pixelColor(20, 15), QColor(10, 200, 30));
        } else {
            EXPECT_EQ(QUrl::fromEncoded(content->trimmed()), url);
        }
    }
}

}  // namespace
}  // namespace brevalto
