// What the editor tells the user: the status line as assistive technology reads it (without the
// pointer ever coming near), the canvas while the document cannot be rendered, and the outputs
// that a layer refuses.
#include "EditorViewFixture.h"

#include "Document/ScreenshotRenderer.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/View/EditorControls.h"

#include <QAccessible>
#include <QEnterEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QUrl>


namespace brevalto {
namespace {

using View = ScreenshotEditorView;

// The interface under root (root included) with the role and the name, or null.
QAccessibleInterface* findAccessible(QAccessibleInterface* root, QAccessible::Role role, const QString& name) {
    if (!root) return nullptr;
    if (root->role() == role && root->text(QAccessible::Name) == name) return root;
    for (int i = 0; i < root->childCount(); ++i)
        if (QAccessibleInterface* found = findAccessible(root->child(i), role, name)) return found;
    return nullptr;
}

TEST_F(EditorViewTest, TheStatusLineIsALabelThatAssistiveTechnologyReadsWithoutThePointer) {
    QWidget* status = find("editorStatus");
    const QString saved = View::savedStatus(QUrl::fromLocalFile(QStringLiteral("/home/me/capture.png")));
    session().setStatus(saved);
    settle();
    // Found from the view's own interface, with the status as its name, the pointer never near.
    QAccessibleInterface* line = QAccessible::queryAccessibleInterface(status);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->role(), QAccessible::StaticText);
    EXPECT_EQ(line->text(QAccessible::Name), saved);
    EXPECT_EQ(findAccessible(QAccessible::queryAccessibleInterface(view), QAccessible::StaticText, saved), line);
    session().setStatus(View::copiedImageStatus);
    EXPECT_EQ(line->text(QAccessible::Name), View::copiedImageStatus);  // and hears of it: EditorStatusDBusX11Test

    // Two lines of a long message, drawn before the pointer comes; selectable once it came.
    session().setStatus(QString(2000, QLatin1Char('x')).replace(QLatin1Char('x'), QStringLiteral("word ")));
    settle();
    EXPECT_EQ(status->height(), 2 * QFontMetrics(editorFont(EditorFont::status)).lineSpacing() + 10);
    const QImage long_ = status->grab().toImage();
    session().setStatus(View::copiedImageStatus);
    settle();
    const QImage copied = status->grab().toImage();
    EXPECT_NE(copied, long_);
    QImage blank(copied.size(), copied.format());
    blank.fill(copied.pixel(0, 0));
    EXPECT_NE(copied, blank);
    auto* label = qobject_cast<QLabel*>(status);
    ASSERT_TRUE(label);
    EXPECT_FALSE(label->textInteractionFlags() & Qt::TextSelectableByMouse);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), status->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(status, &enter);
    EXPECT_TRUE(label->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);  // the keys stay with the canvas
}

TEST_F(EditorViewTest, ATextThatDoesNotFitKeepsTheLastRenderInItsPlaceAndSaysWhy) {
    // t, a click, a text too long for its area: the document refuses to render it.
    ScreenshotCanvasView* canvas = view->canvas();
    QTest::keyClick(canvas, Qt::Key_T, Qt::NoModifier);
    ASSERT_EQ(session().tool(), QStringLiteral("text"));
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, canvas->viewPoint(QPointF(700, 500)).toPoint());
    settle();
    auto* field = find<QLineEdit>("contextText");
    ASSERT_TRUE(field && field->isVisible());
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QString(40, QLatin1Char('w')).replace(QLatin1Char('w'), QStringLiteral("a long sentence ")));
    settle();
    const QString refused = QString::fromUtf8(ScreenshotRenderer::kTextDoesNotFitMessage);
    ASSERT_EQ(session().status(), refused);

    // A backdrop preset grows the visible image; the last good render stays where it was drawn.
    click("backdrop");
    click("gradient3");
    settle();
    EXPECT_EQ(session().status(), refused);
    const double margin = canvas->backdropMargin();
    ASSERT_GT(margin, 20);
    const QImage shown = canvas->grab().toImage();
    const auto at = [&](QPointF document) { return QColor(shown.pixel(canvas->viewPoint(document).toPoint())).name(); };
    EXPECT_EQ(at(QPointF(200, 150)), "#0000ff");  // inside the blue block
    EXPECT_EQ(at(QPointF(85, 150)), "#ffffff");   // left of it, not the block stretched over
    EXPECT_EQ(at(QPointF(-margin / 2, -margin / 2)), "#474747");  // the backing (white 0.28), not the image
    // The colour under the pointer is the one drawn there.
    const QPointF pointer = canvas->viewPoint(QPointF(85, 150));
    QMouseEvent move(QEvent::MouseMove, pointer, canvas->mapToGlobal(pointer), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
    ASSERT_TRUE(session().hoverColor());
    EXPECT_EQ(session().hoverColor()->hex(), "#FFFFFF");

    // Closing the popover ends its step; the status still says why nothing else changed.
    view->setShowBackdrop(false);
    settle();
    EXPECT_EQ(session().status(), refused);
    EXPECT_EQ(canvas->grab().toImage(), shown);
}

// A shaky click with the text tool leaves a box too small for its text. Every output it
// refuses says so with the reason and selects the box, so that one Delete clears it; once
// nothing blocks any more (after an Undo) the refusal goes from the status.
TEST_F(EditorViewTest, AnOutputThatALayerRefusesNamesItselfAndSelectsTheLayer) {
    int sent = 0;
    controller.setOnAction([&](ScreenshotEditorAction, const QImage&) { ++sent; });
    const std::size_t image = layers();
    ScreenshotLayer box = View::coverLayer(ScreenshotLayerKind::text, QRectF(700, 500, 40, 10));
    box.text = "Text";
    session().addLayer(box);
    settle();
    const std::string reason = ScreenshotRenderer::kTextDoesNotFitMessage;
    ASSERT_EQ(session().status().toStdString(), reason);

    const std::int64_t clipboard = board.changeCount();
    const QString pdf = QString::fromStdString((folder / "out.pdf").string());
    dialogs.answer = QUrl::fromLocalFile(QString::fromStdString((folder / "out.png").string()));
    dialogs.pdf = pdf;
    // Toolbar buttons, then More menu items.
    for (const auto& [control, prefix] : {std::pair{"copyImage", "Not copied: "}, {"saveAs", "Not saved: "},
                                          {"share", "Not shared: "}, {"pin", "Not pinned: "},
                                          {"copyFileURL", "Not saved: "}, {"uploadAndCopyLink", "Not uploaded: "},
                                          {"saveAsNewItem", "Not saved: "}, {"print", "Not printed: "},
                                          {"beforeAfterGIF", "Not saved: "}}) {
        session().selectTool(QStringLiteral("text"));
        session().setSelectedID(std::nullopt);
        view->findChild<QWidget*>(QString::fromUtf8(control)) ? click(QString::fromUtf8(control))
                                                              : trigger(QString::fromUtf8(control));
        settle();
        EXPECT_EQ(session().status().toStdString(), prefix + reason) << control;
        EXPECT_EQ(session().selectedID(), box.id) << control;
        EXPECT_EQ(session().tool(), QStringLiteral("select")) << control;
    }
    EXPECT_EQ(board.changeCount(), clipboard);
    EXPECT_TRUE(dialogs.types.empty()) << "no save dialog for an image that is not exported";
    EXPECT_EQ(sent, 0);
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_FALSE(view->findChild<QMenu*>(QStringLiteral("shareMenu")));
    EXPECT_EQ(layers(), image + 1) << "the box is the user's";

    // One Delete clears it; Undo brings it back, the next copy is refused, and once the box is
    // undone as well the status no longer says that anything blocks.
    QTest::keyClick(view->canvas(), Qt::Key_Delete);
    settle();
    click("copyImage");
    EXPECT_EQ(session().status(), View::copiedImageStatus);
    session().undo();
    click("copyImage");
    EXPECT_EQ(session().status(), View::refusedStatus(View::Output::copy, QString::fromStdString(reason)));
    session().undo();
    settle();
    EXPECT_EQ(layers(), image);
    EXPECT_EQ(session().status(), QString());
}

}  // namespace
}  // namespace brevalto
