// The context bar over a real editor view, controller and document folder, with a scripted
// recognizer and background work: what it shows for each tool and selected layer, the undo steps
// each control makes, and what each variant does.
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/ScreenshotEditorController.h"
#include "Editor/View/ScreenshotContextBar.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "FakePasteboard.h"
#include "FakeTextRecognizer.h"
#include "ManualExecutor.h"
#include "Platform/Defaults.h"
#include "Platform/Symbols.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QLineEdit>
#include <QPainter>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fstream>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using Kind = ScreenshotLayerKind;
using Bar = ScreenshotContextBar;

class ContextBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        QImage image(400, 300, QImage::Format_ARGB32);
        image.fill(Qt::white);
        std::ofstream(folder / "clip.png", std::ios::binary) << encodedImage(image, "PNG").toStdString();
        controller.setExecutor(executor);
        controller.setRecognizer(&recognizer);
        controller.open(folder / "clip.png", Uuid::random(), folder / "docs", 1.0);
        executor.runAll();
        view = std::make_unique<ScreenshotEditorView>(controller.session(), controller, [] {});
        view->resize(1100, 700);
        view->show();
        settle();
        bar = view->contextBar();
    }
    void settle() {
        executor.runAll();
        QCoreApplication::processEvents();
    }
    ScreenshotDocumentSession& session() { return *controller.session(); }
    template <class T = QWidget>
    T* find(const char* name) {
        return bar->findChild<T*>(QString::fromUtf8(name));
    }
    ScreenshotLayer& add(Kind kind, QRectF frame = QRectF(20, 20, 100, 60)) {
        ScreenshotLayer layer;
        layer.kind = kind;
        layer.frame = frame;
        layer.points = {QPointF(0, 0), QPointF(1, 1)};
        if (kind == Kind::counter) layer.text = "1";
        session().addLayer(layer);
        settle();
        return added = session().document().layers.back();
    }
    void addTranslated() {
        ScreenshotLayer layer;
        layer.kind = Kind::translatedText;
        layer.frame = QRectF(20, 20, 100, 60);
        layer.text = "Hallo";
        layer.originalText = "Hello";
        session().addLayer(layer);
        settle();
    }
    ScreenshotLayer current() { return *session().selectedLayer(); }
    std::size_t steps() { return session().undoStack().size(); }
    QString segments() {
        QStringList names;
        for (auto* b : bar->findChild<QWidget*>(QStringLiteral("contextPicker"))->findChildren<QToolButton*>())
            names << b->accessibleName();
        return names.join(QLatin1Char('|'));
    }
    int checked() {
        for (auto* b : bar->findChild<QWidget*>(QStringLiteral("contextPicker"))->findChildren<QToolButton*>())
            if (b->isChecked()) return b->objectName().back().digitValue();
        return -1;
    }
    void choose(int index) {
        QTest::mouseClick(find<QToolButton>(QStringLiteral("contextVariant%1").arg(index).toUtf8().constData()),
                          Qt::LeftButton);
        settle();
    }

    TestFolder folder;
    Defaults defaults;
    FakePasteboard board;
    FakeTextRecognizer recognizer;
    ManualExecutor executor;
    ScreenshotEditorController controller{board, defaults};
    std::unique_ptr<ScreenshotEditorView> view;
    Bar* bar = nullptr;
    ScreenshotLayer added;
};

TEST_F(ContextBarTest, ShowsTheControlsOfTheToolOrTheSelectedLayer) {
    struct Row {
        const char* tool;
        std::optional<Kind> layer;
        bool shown;
        const char* back;
        bool color;
        const char* slider;  // label, "" for none
        double low, high;
        bool text;
        const char* picker;  // segment names
        const char* more;
    };
    const Row rows[] = {
        {"select", {}, false},
        {"smart", {}, false},
        {"pan", {}, false},
        {"arrow", {}, true, "Back to Select", true, "Thickness", 1, 30, false, "Straight|Curved|Hand-drawn",
         "More style options"},
        {"arrow", Kind::image, true, "Back to Select", true, "Thickness", 1, 30, false, "Straight|Curved|Hand-drawn",
         "More style options"},
        {"select", Kind::translatedText, false},
        {"effect", {}, true, "Back to Select", false, "", 0, 0, false, "Blur|Blur Text|Erase|Erase Text|Redact",
         "More style options"},
        {"pixelate", {}, true, "Back to Select", true, "", 0, 0, false, "", "More style options"},
        {"select", Kind::pixelate, true, "Deselect", false, "Strength", 2, 60, false,
         "Blur|Blur Text|Erase|Erase Text|Redact", "More options"},
        {"select", Kind::redact, true, "Deselect", false, "", 0, 0, false, "Blur|Blur Text|Erase|Erase Text|Redact",
         "More options"},
        {"select", Kind::spotlight, true, "Deselect", false, "", 0, 0, false, "", "More options"},
        {"select", Kind::counter, true, "Deselect", true, "Font size", 8, 160, true, "", "More options"},
        {"select", Kind::callout, true, "Deselect", true, "Font size", 8, 160, true, "", "More options"},
        {"text", {}, true, "Back to Select", true, "Font size", 8, 160, false, "Plain|Box", "More style options"},
        {"select", Kind::text, true, "Deselect", true, "Font size", 8, 160, true, "Plain|Box", "More options"},
        {"oval", {}, true, "Back to Select", true, "Thickness", 1, 30, false, "Outline|Filled|Hand-drawn",
         "More style options"},
        {"magnifier", {}, true, "Back to Select", true, "Thickness", 1, 30, false, "Square lens|Rounded lens",
         "More style options"},
        {"highlighter", {}, true, "Back to Select", true, "Thickness", 1, 30, false, "", "More style options"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.tool) + " " + (row.layer ? std::string(rawValue(*row.layer)) : "-"));
        session().setSelectedID(std::nullopt);
        session().selectTool(QString::fromUtf8(row.tool));
        if (row.layer == Kind::image) session().setSelectedID(session().document().layers[0].id);
        else if (row.layer == Kind::translatedText) addTranslated();
        else if (row.layer) add(*row.layer);
        settle();
        ASSERT_EQ(bar->isVisible(), row.shown);
        if (!row.shown) continue;
        EXPECT_EQ(find("contextBack")->toolTip(), QString::fromUtf8(row.back));
        EXPECT_EQ(find("contextColor")->isVisible(), row.color);
        auto* slider = find<QSlider>("contextSlider");
        EXPECT_EQ(slider->isVisible() ? slider->accessibleName() : QString(), QString::fromUtf8(row.slider));
        if (slider->isVisible()) EXPECT_EQ(std::pair(slider->minimum(), slider->maximum()),
                                           std::pair(int(row.low * 100), int(row.high * 100)));
        EXPECT_EQ(find("contextText")->isVisible(), row.text);
        EXPECT_EQ(find("contextPicker")->isVisible() ? segments() : QString(), QString::fromUtf8(row.picker));
        EXPECT_EQ(find("contextMore")->accessibleName(), QString::fromUtf8(row.more));
        // 12 px inside the canvas's top-right corner, nothing clipped, no slack between segments.
        EXPECT_EQ(bar->barRect().topRight(), QPoint(view->canvas()->width() - 13, 12));
        EXPECT_EQ(bar->width(), bar->sizeHint().width());
        for (auto* segment : find("contextPicker")->findChildren<QToolButton*>())
            EXPECT_GE(segment->width(), segment->sizeHint().width()) << segment->accessibleName().toStdString();
    }
    EXPECT_EQ(find("contextPicker")->toolTip(), QString());
    for (const char* symbol : {"chevron.left", "ellipsis.circle", "square", "app"})
        EXPECT_TRUE(Symbols::has(QString::fromUtf8(symbol)) && Symbols::names().contains(QString::fromUtf8(symbol)));
}

TEST_F(ContextBarTest, EachControlMakesItsOwnUndoSteps) {
    // A colour with nothing selected changes only the tool style.
    session().selectTool(QStringLiteral("arrow"));
    const auto before = std::pair(steps(), session().document().revision);
    bar->pickColor(QColor(0, 0, 255));
    EXPECT_EQ(session().style().stroke, (ScreenshotColor::RGBA{0, 0, 1, 1}));
    EXPECT_EQ(std::pair(steps(), session().document().revision), before);
    EXPECT_FALSE(session().editing());

    // A thickness drag over a selected arrow: one step; undo restores the width, the style keeps it.
    add(Kind::arrow);
    const double width = current().style.strokeWidth;
    auto* slider = find<QSlider>("contextSlider");
    const std::size_t base = steps();
    slider->setSliderDown(true);
    for (int v : {500, 800, 1200}) slider->setValue(v);
    EXPECT_EQ(steps(), base);
    slider->setSliderDown(false);
    EXPECT_EQ(steps(), base + 1);
    EXPECT_EQ(current().style.strokeWidth, 12);
    session().undo();
    settle();
    EXPECT_EQ(current().style.strokeWidth, width);
    EXPECT_EQ(session().style().strokeWidth, 12);
    // A key step (no press) commits at once.
    slider->setValue(400);
    EXPECT_EQ(steps(), base + 1);
    EXPECT_EQ(current().style.strokeWidth, 4);

    // Typing stays pending until Return: one step, one undo brings the old text back.
    add(Kind::text);
    session().setDocument([&] {
        ScreenshotDocument d = session().document();
        d.layers[d.layers.size() - 1].text = "Text";
        return d;
    }());
    session().commitGesture();
    settle();
    auto* field = find<QLineEdit>("contextText");
    EXPECT_EQ(field->text(), QStringLiteral("Text"));
    const std::size_t typed = steps();
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("Invoice 4711"));
    EXPECT_EQ(current().text, "Invoice 4711");
    EXPECT_EQ(steps(), typed);
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(steps(), typed + 1);
    EXPECT_EQ(view->window()->focusWidget(), view->canvas());  // tool letters reach the canvas again
    session().undo();
    settle();
    EXPECT_EQ(current().text, "Text");

    // A variant choice is one step; a colour of a selected layer stays pending.
    const std::size_t picked = steps();
    choose(1);
    EXPECT_EQ(steps(), picked + 1);
    EXPECT_TRUE(current().style.filled);
    bar->pickColor(QColor(255, 0, 0));
    EXPECT_EQ(steps(), picked + 1);
    EXPECT_TRUE(session().editing());
    EXPECT_EQ(current().style.stroke, (ScreenshotColor::RGBA{1, 0, 0, 1}));

    // Back on a selected layer deselects and keeps the tool; with none it goes back to Select.
    QTest::mouseClick(find("contextBack"), Qt::LeftButton);
    EXPECT_FALSE(session().selectedID());
    EXPECT_EQ(session().tool(), QStringLiteral("arrow"));
    QTest::mouseClick(find("contextBack"), Qt::LeftButton);
    EXPECT_EQ(session().tool(), QStringLiteral("select"));
    EXPECT_FALSE(session().editing());  // selectTool committed the colour
}

TEST_F(ContextBarTest, PickersFollowTheSessionAndChangeTheLayer) {
    // Selection from the session: hand-drawn wins over filled, an unknown effect id shows Blur.
    session().selectTool(QStringLiteral("rectangle"));
    ScreenshotStyle style;
    style.filled = style.handDrawn = true;
    session().setStyle(style);
    EXPECT_EQ(checked(), 2);
    session().selectTool(QStringLiteral("effect"));
    session().setEffectMode(QString());
    EXPECT_EQ(checked(), 0);
    EXPECT_EQ(find("contextPicker")->toolTip(), Bar::secretHelp);
    session().setEffectMode(QStringLiteral("eraseText"));
    EXPECT_EQ(checked(), 3);

    // Erase Text with nothing selected only changes the mode.
    const auto revision = session().document().revision;
    choose(3);
    choose(1);
    EXPECT_EQ(session().effectMode(), QStringLiteral("blurText"));
    EXPECT_EQ(session().document().revision, revision);

    // A pixelate layer shows Blur; Blur lifts a strength below 2 to 12; Redact makes it opaque black.
    session().selectTool(QStringLiteral("select"));
    add(Kind::pixelate);
    session().setDocument([&] {
        ScreenshotDocument d = session().document();
        d.layers[d.layers.size() - 1].value = 1;
        return d;
    }());
    session().commitGesture();
    settle();
    EXPECT_EQ(checked(), 0);
    EXPECT_EQ(find<QSlider>("contextSlider")->value(), 200);  // shown clamped, not written
    EXPECT_EQ(current().value, 1);
    choose(0);
    EXPECT_EQ(std::pair(current().kind, current().value), std::pair(Kind::blur, 12.0));
    choose(4);
    EXPECT_EQ(current().kind, Kind::redact);
    EXPECT_EQ(current().style.fill, (ScreenshotColor::RGBA{0, 0, 0, 1}));
    EXPECT_TRUE(current().style.filled);
    EXPECT_EQ(checked(), 4);

    // Curved on a hand-drawn straight arrow keeps frame and points and clears hand-drawn.
    add(Kind::arrow);
    choose(2);
    EXPECT_TRUE(current().style.handDrawn);
    choose(1);
    EXPECT_EQ(current().kind, Kind::curvedArrow);
    EXPECT_FALSE(current().style.handDrawn);
    EXPECT_EQ(current().frame, added.frame);
    EXPECT_EQ(current().points, added.points);
    choose(0);
    EXPECT_EQ(current().kind, Kind::arrow);
    // With nothing selected the tool changes without a commit or a style load.
    session().setSelectedID(std::nullopt);
    session().selectTool(QStringLiteral("arrow"));
    bar->pickColor(QColor(0, 255, 0));
    choose(1);
    EXPECT_EQ(session().tool(), QStringLiteral("curvedArrow"));
    EXPECT_EQ(session().style().stroke, (ScreenshotColor::RGBA{0, 1, 0, 1}));

    // Hand-drawn on a rectangle clears filled; the lens picker sets filled.
    add(Kind::rectangle);
    choose(1);
    EXPECT_TRUE(current().style.filled);
    choose(2);
    EXPECT_TRUE(current().style.handDrawn);
    EXPECT_FALSE(current().style.filled);
    add(Kind::magnifier);
    choose(0);
    EXPECT_TRUE(current().style.filled);
    EXPECT_EQ(checked(), 0);
    choose(1);
    EXPECT_FALSE(current().style.filled);
}

TEST_F(ContextBarTest, TextVariantsTurnTheAreaIntoLineMasksOrSayItIsOutside) {
    session().selectTool(QStringLiteral("select"));
    add(Kind::blur, QRectF(10.4, 20.6, 500, 50));
    const std::size_t base = steps();
    const std::size_t layers = session().document().layers.size();
    recognizer.lines = {FakeTextRecognizer::line("ab", QPoint(12, 24)), FakeTextRecognizer::line("cd", QPoint(12, 44))};
    choose(1);
    EXPECT_EQ(session().effectMode(), QStringLiteral("blurText"));
    EXPECT_EQ(steps(), base + 2);  // the removal, then the masks
    EXPECT_FALSE(session().selectedID());
    EXPECT_FALSE(session().selection());  // handed over to the masks
    EXPECT_EQ(session().document().layers.size(), layers + 1);
    EXPECT_EQ(session().document().layers.back().kind, Kind::blur);

    // A layer outside the visible image: nothing removed, nothing selected, the reason shown.
    add(Kind::blur, QRectF(600, 20, 100, 50));
    const auto revision = session().document().revision;
    choose(3);
    EXPECT_EQ(session().status(), Bar::outsideStatus);
    EXPECT_EQ(session().document().revision, revision);
    EXPECT_TRUE(session().selectedID());
    EXPECT_FALSE(session().selection());
}

}  // namespace
}  // namespace brevalto
