#include "Document/ScreenshotDragView.h"
#include "Errors/ScreenshotError.h"
#include "Document/ScreenshotFilePromise.h"
#include "Document/ScreenshotOutput.h"
#include "ScriptedOutputDialogs.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"
#include "QtWait.h"
#include "TestFolder.h"
#include "Workflow/WorkflowDialogs.h"

#include <QCoreApplication>
#include <QAbstractButton>
#include <QApplication>
#include <QDrag>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPrinter>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTransform>

#include <functional>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

TEST(ScreenshotOutputGuiTest, SaveProposesATimestampedNameAndNeverReplaces) {
    TestFolder folder;
    ScriptedOutputDialogs dialogs;
    EXPECT_EQ(ScreenshotOutput::save("gif bytes", ScreenshotOutput::ContentType::gif, "Screenshot", dialogs), std::nullopt);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Screenshot-\\d{8}-\\d{6}-\\d{3}\\.gif$")).match(dialogs.proposed).hasMatch())
        << dialogs.proposed.toStdString();
    EXPECT_EQ(dialogs.folder, AppPaths::picturesFolder());
    EXPECT_TRUE(fs::is_empty(folder.path()));  // cancelled: nothing written

    AtomicFile::write(folder / "shot.png", std::string_view("kept"));
    dialogs.answer = QUrl::fromLocalFile(QString::fromStdString((folder / "shot.png").string()));
    const auto written = ScreenshotOutput::save("new", ScreenshotOutput::ContentType::png, "My shot", dialogs, folder.path());
    EXPECT_EQ(dialogs.folder, folder.path());
    ASSERT_TRUE(written);
    EXPECT_EQ(written->toLocalFile().toStdString(), (folder / "shot-1.png").string());
    EXPECT_EQ(AtomicFile::read(folder / "shot.png", 10), "kept");
    EXPECT_TRUE(dialogs.proposed.startsWith("My shot-"));
}

template <typename Widget>
Widget* shownWindow() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* widget = qobject_cast<Widget*>(window); widget && widget->isVisible()) return widget;
    return nullptr;
}

// The save dialogs as a user meets them: a name typed in and Return. Each gives the name its
// type's extension, and asks about replacing the file that will really be written.
TEST(ScreenshotOutputGuiTest, SaveDialogsGiveTheNameTheirTypesExtension) {
    using ScreenshotOutput::ContentType;
    TestFolder folder;
    AtomicFile::write(folder / "taken.jpg.png", std::string_view("kept"));
    const auto editor = [&](ContentType type) {
        return [&, type]() -> std::optional<QString> {
            const auto url = ScreenshotOutput::systemDialogs().chooseSaveFile(type, "Screenshot", folder.path());
            return url ? std::optional(url->toLocalFile()) : std::nullopt;
        };
    };
    const auto workflow = [&]() -> std::optional<QString> {
        const auto path = WorkflowDialogs::system().chooseSaveFile("Screenshot", folder.path());
        return path ? std::optional(QString::fromStdString(path->string())) : std::nullopt;
    };
    struct Row {
        std::function<std::optional<QString>()> dialog;
        const char* typed;
        const char* saved;
        bool asksToReplace;
    };
    const Row rows[] = {
        {editor(ContentType::png), "trial.jpg", "trial.jpg.png", false},
        {editor(ContentType::png), "trial", "trial.png", false},
        {editor(ContentType::png), "trial.PNG", "trial.PNG", false},
        {editor(ContentType::jpeg), "trial.jpg", "trial.jpg", false},
        {editor(ContentType::jpeg), "trial.png", "trial.png.jpeg", false},
        {editor(ContentType::jpeg), "trial.", "trial.jpeg", false},
        {editor(ContentType::gif), "trial.png", "trial.png.gif", false},
        {workflow, "trial.gif", "trial.gif.png", false},
        {workflow, "taken.jpg", "taken.jpg.png", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        bool asked = false;
        QTimer::singleShot(0, [&] {
            QFileDialog* dialog = nullptr;
            ASSERT_TRUE(waitUntil([&] { return (dialog = shownWindow<QFileDialog>()) != nullptr; }));
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Save As"));
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_TRUE(name);
            name->clear();
            QTest::keyClicks(name, QString::fromUtf8(row.typed));
            if (row.asksToReplace)
                QTimer::singleShot(0, [&] {
                    QMessageBox* box = nullptr;
                    ASSERT_TRUE(waitUntil([&] { return (box = shownWindow<QMessageBox>()) != nullptr; }));
                    asked = box->text().contains(QString::fromUtf8(row.saved));
                    box->button(QMessageBox::Yes)->click();
                });
            QTest::keyClick(name, Qt::Key_Return);
        });
        const std::optional<QString> chosen = row.dialog();
        ASSERT_TRUE(chosen);
        EXPECT_EQ(chosen->toStdString(), (folder / row.saved).string());
        EXPECT_EQ(asked, row.asksToReplace);
    }
}

// Where the page's one image lands, in points from the page's lower left corner: the product of
// the transformations before the image is drawn in the page's content stream, applied to the
// image's unit square.
QRectF placedImage(const QByteArray& pdf) {
    static const QRegularExpression streams(QStringLiteral("stream\r?\n(.*?)endstream"),
                                            QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression matrix(QStringLiteral("([-\\d.]+) ([-\\d.]+) ([-\\d.]+) ([-\\d.]+) ([-\\d.]+) ([-\\d.]+) cm"));
    const QString latin = QString::fromLatin1(pdf);
    for (auto it = streams.globalMatch(latin); it.hasNext();) {
        const QByteArray raw = it.next().captured(1).toLatin1();
        if (!raw.startsWith('\x78')) continue;  // not a zlib stream
        const QByteArray content = qUncompress(QByteArray("\x00\x10\x00\x00", 4) + raw);
        if (!content.contains(" Do")) continue;
        QTransform total;
        for (auto m = matrix.globalMatch(QString::fromLatin1(content)); m.hasNext();) {
            const auto match = m.next();
            total = QTransform(match.captured(1).toDouble(), match.captured(2).toDouble(), match.captured(3).toDouble(),
                               match.captured(4).toDouble(), match.captured(5).toDouble(), match.captured(6).toDouble()) *
                    total;
        }
        return total.mapRect(QRectF(0, 0, 1, 1));
    }
    return {};
}

TEST(ScreenshotOutputGuiTest, PrintsTheImageToOnePage) {
    TestFolder folder;
    ScriptedOutputDialogs dialogs;
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    ScreenshotOutput::print(image, dialogs);  // cancelled
    EXPECT_TRUE(fs::is_empty(folder.path()));

    for (QSize size : {QSize(300, 200), QSize(3000, 200)}) {  // one smaller and one wider than the page
        const fs::path pdf = folder / ("p" + std::to_string(size.width()) + ".pdf");
        dialogs.pdf = QString::fromStdString(pdf.string());
        ScreenshotOutput::print(image.scaled(size), dialogs);
        const std::string bytes = AtomicFile::read(pdf, 1 << 24);
        EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
        const QByteArray text = QByteArray::fromStdString(bytes);
        EXPECT_EQ(text.count("/Type /Page\n"), 1);
        EXPECT_EQ(text.count("/Subtype /Image"), 1);
        EXPECT_TRUE(text.contains(QStringLiteral("/Width %1").arg(size.width()).toLatin1()));
        EXPECT_TRUE(text.contains(QStringLiteral("/Height %1").arg(size.height()).toLatin1()));
        ASSERT_TRUE(text.contains("/MediaBox [0 0 595.000000 842.000000]"));  // A4
        const QRectF placed = placedImage(text);
        EXPECT_NEAR(placed.center().x(), 595 / 2.0, 0.5);
        EXPECT_NEAR(placed.width() / placed.height(), size.width() / double(size.height()), 0.01);
        if (size.width() < 595) {
            EXPECT_NEAR(placed.width(), size.width(), 0.5);  // one point per pixel
        } else {
            EXPECT_GT(placed.width(), 540);  // reduced to the printable width
            EXPECT_LT(placed.width(), 595);
        }
    }
}

// Stands in for a drop target: records the offered data and asks for the file.
class RecordingDragView final : public ScreenshotDragView {
public:
    int drags = 0;
    QStringList formats;
    QList<QUrl> urls;
    bool activeDuringDrag = false;

    void press(QPointF at) { send(QEvent::MouseButtonPress, at, Qt::LeftButton); }
    void move(QPointF to) { send(QEvent::MouseMove, to, Qt::NoButton); }

protected:
    void runDrag(QDrag& drag) override {
        ++drags;
        activeDuringDrag = active();
        formats = drag.mimeData()->formats();
        urls = drag.mimeData()->urls();
        move(QPointF(60, 60));  // ignored while the session runs
    }

private:
    void send(QEvent::Type type, QPointF at, Qt::MouseButton button) {
        QMouseEvent event(type, at, mapTo(window(), at), mapToGlobal(at), button, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(this, &event);
    }
};

TEST(ScreenshotOutputGuiTest, DragHandleStartsPastFourPointsAndCreatesItsFileOnRequest) {
    TestFolder folder;
    RecordingDragView view;
    view.resize(30, 30);
    EXPECT_EQ(view.accessibleName(), "Drag rendered PNG file to another app");
    QImage image(80, 50, QImage::Format_RGB32);
    image.fill(Qt::red);
    int renders = 0;
    view.makeImage = [&] {
        ++renders;
        return image;
    };

    view.press({5, 5});
    view.move({9, 5});  // exactly 4 points: not yet
    EXPECT_EQ(renders, 0);
    view.move({5, 5});
    view.move({9.01, 5});
    EXPECT_EQ(renders, 1);
    EXPECT_EQ(view.drags, 0);  // no folder: inert

    view.folder = folder / "Drag";
    view.move({12, 12});
    ASSERT_EQ(view.drags, 1);
    EXPECT_TRUE(view.activeDuringDrag);
    EXPECT_FALSE(view.active());
    EXPECT_EQ(view.formats, (QStringList{"image/png", "text/uri-list"}));
    ASSERT_EQ(view.urls.size(), 1);
    const QString name = QString::fromStdString(fs::path(view.urls[0].toLocalFile().toStdString()).filename().string());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Brevalto-\\d{8}-\\d{6}-\\d{3}\\.png$")).match(name).hasMatch());
    const auto first = view.promise();
    ASSERT_TRUE(first);
    EXPECT_EQ(QImage::fromData(first->data(), "PNG").pixelColor(1, 1), QColor(Qt::red));
    EXPECT_EQ(view.urls[0].toLocalFile().toStdString(), first->file().string());  // kept after the drag

    view.move({5, 25});  // the session ended and cleared the start
    EXPECT_EQ(view.drags, 1);
    view.press({5, 5});
    view.move({5, 15});
    EXPECT_EQ(view.drags, 2);
    EXPECT_NE(view.promise(), first);  // the next drag replaces the kept promise

    std::string failure;
    view.makeImage = [] () -> QImage { throw ScreenshotError("Could not render."); };
    view.failed = [&](const std::exception& e) { failure = e.what(); };
    view.press({5, 5});
    view.move({5, 15});
    EXPECT_EQ(failure, "Could not render.");
    EXPECT_EQ(view.drags, 2);
}

}  // namespace
}  // namespace brevalto
