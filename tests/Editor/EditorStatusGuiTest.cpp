// What the editor tells the user: the status line as assistive technology reads it (without the
// pointer ever coming near), and the canvas while the document cannot be rendered.
#include "EditorViewFixture.h"

#include "Document/ScreenshotRenderer.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/View/EditorControls.h"

#include <QAccessible>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
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

}  // namespace
}  // namespace brevalto
