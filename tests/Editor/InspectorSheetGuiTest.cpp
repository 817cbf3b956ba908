// The inspector sheet over a real editor view and session: its frame and closing, the Layers and
// Selection pages, and padding a selection.
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/Inspectors/DecimalField.h"
#include "Editor/Inspectors/InspectorSheet.h"
#include "Editor/Inspectors/ScreenshotObjectInspector.h"
#include "Editor/Inspectors/ScreenshotSelectionInspector.h"
#include "Editor/ScreenshotEditorController.h"
#include "Editor/View/EditorMoreMenu.h"
#include "Editor/View/EditorToolbar.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "FakePasteboard.h"
#include "ManualExecutor.h"
#include "Platform/Defaults.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QSlider>
#include <QSpinBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using View = ScreenshotEditorView;

class InspectorSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(folder / "run");
        fs::permissions(folder / "run", fs::perms::owner_all);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString((folder / "run").string()));
        QImage image(400, 300, QImage::Format_ARGB32);
        image.fill(Qt::white);
        std::ofstream(folder / "clip.png", std::ios::binary) << encodedImage(image, "PNG").toStdString();
        controller.setExecutor(executor);
        controller.open(folder / "clip.png", Uuid::random(), folder / "docs", 1.0);
        executor.runAll();
        view = std::make_unique<View>(controller.session(), controller, [] {});
        view->resize(1000, 700);
        view->show();
        settle();
    }
    void settle() {
        executor.runAll();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    ScreenshotDocumentSession& session() { return *controller.session(); }
    InspectorSheet* sheet() { return view->findChild<InspectorSheet*>(); }
    template <class T = QWidget>
    T* find(const QString& name) {
        T* found = view->findChild<T*>(name);
        EXPECT_TRUE(found) << name.toStdString();
        return found;
    }
    void open(EditorPanel panel) {
        view->setPanel(panel);
        settle();
    }
    Uuid add(ScreenshotLayerKind kind, const std::string& text = {}) {
        ScreenshotLayer layer = View::coverLayer(kind, QRectF(10, 10, 40, 30));
        layer.text = text;
        session().addLayer(layer);
        return session().document().layers.back().id;
    }
    void type(const QString& field, const QString& text) {
        auto* edit = find<DecimalField>(field);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    // The whole text at once, as a paste would give it.
    void paste(const QString& field, const QString& text) {
        auto* edit = find<DecimalField>(field);
        edit->setText(text);
        emit edit->textEdited(text);
    }

    TestFolder folder;
    Defaults defaults;
    FakePasteboard board;
    ManualExecutor executor;
    ScreenshotEditorController controller{board, defaults};
    std::unique_ptr<View> view;
};

TEST_F(InspectorSheetTest, TheSheetShowsEachPanelInItsFrameAndDoneReturnAndEscapeCloseIt) {
    for (EditorPanel panel : allEditorPanels) {
        open(panel);
        ASSERT_TRUE(sheet()->isVisible());
        EXPECT_EQ(find<QLabel>("inspectorTitle")->text(), title(panel));
        QFrame* frame = sheet()->frame();
        EXPECT_EQ(frame->size(), QSize(400, 480));
        EXPECT_EQ(frame->geometry().center(), view->rect().center());
    }
    // Switching the panel replaces the page.
    open(EditorPanel::layers);
    EXPECT_EQ(sheet()->page()->objectName(), "layersPage");
    open(EditorPanel::selection);
    EXPECT_EQ(sheet()->page()->objectName(), "selectionPage");
    EXPECT_FALSE(view->findChild<QWidget*>("layersPage"));

    const std::size_t steps = session().undoStack().size();
    for (int key : {int(Qt::Key_Return), int(Qt::Key_Escape), int(Qt::Key_Enter), 0}) {
        open(EditorPanel::layers);
        if (key)
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : sheet()->frame(), Qt::Key(key));
        else
            QTest::mouseClick(find("inspectorDone"), Qt::LeftButton);
        settle();
        EXPECT_FALSE(view->panel()) << key;
        EXPECT_FALSE(sheet()->isVisible()) << key;
    }
    EXPECT_EQ(session().undoStack().size(), steps);  // visits without a change add no step

    // The More menu opens the pages.
    QMenu* menu = view->toolbar()->moreMenu();
    for (auto [name, panel] : {std::pair{"selectionPanel", EditorPanel::selection},
                               std::pair{"layersPanel", EditorPanel::layers},
                               std::pair{"toolStylePanel", EditorPanel::style}}) {
        menu->findChild<QAction*>(name)->trigger();
        EXPECT_EQ(view->panel(), panel) << name;
    }
}

TEST_F(InspectorSheetTest, LayerRowsFollowTheDocumentSelectAndHideAsOneStepEach) {
    const Uuid box = add(ScreenshotLayerKind::rectangle);
    add(ScreenshotLayerKind::text, "Hello there, this is long");
    ScreenshotStyle thick;
    thick.strokeWidth = 11;
    session().edit([&](ScreenshotDocument& d) { d.layers[1].style = thick; });
    session().setSelectedID(std::nullopt);
    open(EditorPanel::layers);
    auto titles = [&] {
        QStringList texts;
        for (auto* name : sheet()->page()->findChildren<QPushButton*>("layerTitle")) texts << name->text();
        return texts;
    };
    EXPECT_EQ(titles(), QStringList({"Image ", "Rectangle ", "Text Hello there, thi"}));
    // Cut at 16 characters as the user sees them: emoji and an accent written as a combining mark.
    std::string emoji;
    for (int i = 0; i < 18; ++i) emoji += "\U0001F600";
    add(ScreenshotLayerKind::text, emoji);
    add(ScreenshotLayerKind::text, "abcdefghijklmnoe\u0301xyz");
    settle();
    EXPECT_EQ(titles().mid(3), QStringList({"Text " + QString::fromUtf8(emoji.substr(0, 16 * 4)),
                                            QString::fromUtf8("Text abcdefghijklmnoe\u0301")}));
    session().undo();
    session().undo();
    settle();

    // Selecting a row: the id, its style and the select tool; the row is drawn in the accent.
    session().selectTool(QStringLiteral("text"));
    QTest::mouseClick(sheet()->page()->findChildren<QPushButton*>("layerTitle")[1], Qt::LeftButton);
    settle();
    EXPECT_EQ(session().selectedID(), box);
    EXPECT_EQ(session().style(), thick);
    EXPECT_EQ(session().tool(), "select");
    const auto rows = sheet()->page()->findChildren<QPushButton*>("layerTitle");
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[1]->property("selectedRow").toBool());
    EXPECT_EQ(rows[1]->palette().color(QPalette::ButtonText), sheet()->palette().color(QPalette::Highlight));
    EXPECT_NE(rows[0]->palette().color(QPalette::ButtonText), sheet()->palette().color(QPalette::Highlight));
    EXPECT_EQ(session().document().layers[1].style, thick);  // the same style: no edit

    // Hide, then Show: one undo step each.
    const std::size_t steps = session().undoStack().size();
    for (const char* label : {"Hide", "Show"}) {
        auto* toggle = sheet()->page()->findChildren<QPushButton*>("layerHidden")[1];
        EXPECT_EQ(toggle->text(), label);
        QTest::mouseClick(toggle, Qt::LeftButton);
        settle();
    }
    EXPECT_FALSE(session().document().layers[1].hidden);
    EXPECT_EQ(session().undoStack().size(), steps + 2);
    session().undo();
    EXPECT_TRUE(session().document().layers[1].hidden);
}

TEST_F(InspectorSheetTest, TheSelectionInspectorAppliesOnlyWholePixelsInsideTheVisibleImage) {
    open(EditorPanel::selection);
    EXPECT_FALSE(sheet()->page()->findChild<ScreenshotSelectionInspector*>());
    session().setSelectionRect(QRectF(10, 20, 100, 50));
    settle();
    ASSERT_TRUE(sheet()->page()->findChild<ScreenshotSelectionInspector*>());
    const QString refused = QStringLiteral("Use whole-pixel coordinates inside the visible image.");
    struct Case {
        const char* field;
        const char* text;
        QRectF crop;
        std::optional<QRectF> applied;
    };
    const Case cases[] = {
        {"Selection X", "10.5", {}, std::nullopt},
        {"Selection Width", "0", {}, std::nullopt},
        {"Selection Width", "391", {}, std::nullopt},  // one pixel past the canvas
        {"Selection Width", "390", {}, QRectF(10, 20, 390, 50)},
        {"Selection Height", "51", QRectF(0, 0, 300, 70), std::nullopt},  // one past the crop
        {"Selection Height", "50", QRectF(0, 0, 300, 70), QRectF(10, 20, 100, 50)},
    };
    for (const Case& c : cases) {
        session().edit([&](ScreenshotDocument& d) {
            d.crop = c.crop.isNull() ? std::nullopt : std::optional<QRectF>(c.crop);
        });
        session().setSelectionRect(QRectF(10, 20, 100, 50));
        session().setSelectedID(session().document().layers[0].id);
        session().setStatus({});
        settle();
        type(c.field, c.text);
        QTest::mouseClick(find("applySelection"), Qt::LeftButton);
        settle();
        if (c.applied) {
            EXPECT_EQ(session().selection(), c.applied) << c.field << ' ' << c.text;
            EXPECT_FALSE(session().selectedID()) << c.text;
        } else {
            EXPECT_EQ(session().status(), refused) << c.field << ' ' << c.text;
            EXPECT_EQ(session().selection(), QRectF(10, 20, 100, 50)) << c.text;
            EXPECT_EQ(find<DecimalField>(c.field)->text(), c.text);  // the typed value stays
        }
    }

    // A comma locale reads "10,5" as 10.5; a new selection replaces unapplied values.
    sheet()->setLocale(QLocale(QLocale::German));
    settle();
    EXPECT_EQ(find<DecimalField>("Selection X")->text(), "10");
    type("Selection X", "10,5");
    EXPECT_EQ(find<ScreenshotSelectionInspector>("selectionInspector")->edited().x(), 10.5);
    session().setSelectionRect(QRectF(1, 2, 3, 4));
    settle();
    EXPECT_EQ(find<DecimalField>("Selection X")->text(), "1");
    EXPECT_EQ(find<ScreenshotSelectionInspector>("selectionInspector")->edited(), QRectF(1, 2, 3, 4));
}

TEST_F(InspectorSheetTest, PaddingGrowsToWholePixelsInsideTheVisibleImageOrChangesNothing) {
    ScreenshotDocument plain;
    plain.canvas = QSizeF(400, 300);
    ScreenshotDocument cropped = plain;
    cropped.crop = QRectF(50, 40, 200, 100);
    const double nan = std::nan("");
    struct Case {
        QRectF selection;
        double padding;
        bool crop;
        std::optional<QRectF> result;
    };
    const Case cases[] = {
        {QRectF(100, 100, 50, 50), 8, false, QRectF(92, 92, 66, 66)},
        {QRectF(0, 0, 50, 50), 8, false, QRectF(0, 0, 58, 58)},            // clipped at the edge
        {QRectF(100, 100, 50, 50), 2.5, false, QRectF(97, 97, 56, 56)},     // rounded outwards
        {QRectF(60, 50, 100, 50), 30, true, QRectF(50, 40, 140, 90)},       // clipped at the crop
        {QRectF(100, 100, 50, 50), -24.5, false, QRectF(124, 124, 2, 2)},
        {QRectF(100, 100, 50, 50), -25, false, std::nullopt},
        {QRectF(100, 100, 50, 50), -3000, false, std::nullopt},
        {QRectF(100, 100, 50, 50), 3000, false, std::nullopt},
        {QRectF(100, 100, 50, 50), nan, false, std::nullopt},
        {QRectF(300, 200, 50, 50), 8, true, std::nullopt},                  // wholly outside the crop
    };
    for (const Case& c : cases)
        EXPECT_EQ(InspectorSheet::paddedSelection(c.selection, c.padding, c.crop ? cropped : plain), c.result)
            << c.padding;

    // Through the page: what it sets is accepted by the session's own rule.
    session().setSelectionRect(QRectF(10, 10, 20, 20));
    open(EditorPanel::selection);
    type("paddingField", "3.5");
    QTest::mouseClick(find("padSelection"), Qt::LeftButton);
    settle();
    EXPECT_EQ(session().selection(), QRectF(6, 6, 28, 28));
    EXPECT_NO_THROW(session().setSelection(*session().selection()));
    view->setPanel(std::nullopt);
    session().setSelectionRect(std::nullopt);
    open(EditorPanel::selection);
    QTest::mouseClick(find("padSelection"), Qt::LeftButton);
    EXPECT_FALSE(session().selection());
}

TEST_F(InspectorSheetTest, ToolStyleControlsSetTheStyleAndTheSelectedLayerInOneStep) {
    const Uuid box = add(ScreenshotLayerKind::rectangle);
    session().setStyle(session().document().layers[1].style);
    view->openToolStyle();
    settle();
    auto check = [&](const char* name) { find<QCheckBox>(name)->click(); };
    struct Case {
        const char* what;
        std::function<void()> act;
        std::function<bool(const ScreenshotStyle&)> holds;
    };
    const Case cases[] = {
        {"fill shape", [&] { check("filledToggle"); }, [](const ScreenshotStyle& s) { return s.filled; }},
        {"hand-drawn", [&] { check("handDrawnToggle"); }, [](const ScreenshotStyle& s) { return s.handDrawn; }},
        {"stroke px", [&] { type("strokeWidthField", "8"); }, [](const ScreenshotStyle& s) { return s.strokeWidth == 8; }},
        {"font size", [&] { type("fontSizeField", "40.5"); }, [](const ScreenshotStyle& s) { return s.fontSize == 40.5; }},
        {"font name",
         [&] {
             find<QLineEdit>("fontNameField")->clear();
             QTest::keyClicks(find<QLineEdit>("fontNameField"), "Serif");
         },
         [](const ScreenshotStyle& s) { return s.fontName == "Serif"; }},
        {"opacity", [&] { find<QSlider>("opacitySlider")->setValue(400); },
         [](const ScreenshotStyle& s) { return s.opacity == 0.4; }},
        {"stroke colour",
         [&] {
             find<QPushButton>("strokeColor")->click();
             auto* dialog = QApplication::activeModalWidget() ? qobject_cast<QColorDialog*>(QApplication::activeModalWidget())
                                                             : view->window()->findChild<QColorDialog*>("styleColorDialog");
             ASSERT_TRUE(dialog);
             EXPECT_TRUE(dialog->testOption(QColorDialog::ShowAlphaChannel));
             dialog->setCurrentColor(QColor(0, 0, 255, 128));
             dialog->accept();
         },
         [](const ScreenshotStyle& s) { return s.stroke.blue == 1 && std::abs(s.stroke.alpha - 128 / 255.0) < 1e-3; }},
    };
    const std::size_t steps = session().undoStack().size();
    for (const Case& c : cases) {
        c.act();
        settle();
        EXPECT_TRUE(c.holds(session().style())) << c.what;
        EXPECT_TRUE(c.holds(session().document().layers[1].style)) << c.what;
    }
    view->setPanel(std::nullopt);
    EXPECT_EQ(session().undoStack().size(), steps + 1);  // the whole visit is one step
    session().undo();
    EXPECT_EQ(session().document().layers[1].style, ScreenshotStyle{});

    // An image layer never takes the style; only the session's style changes.
    session().setSelectedID(session().document().layers[0].id);
    const ScreenshotDocument before = session().document();
    view->openToolStyle();
    settle();
    find<QSlider>("opacitySlider")->setValue(100);
    EXPECT_EQ(session().style().opacity, 0.1);
    EXPECT_EQ(session().document().layers, before.layers);
    session().setSelectedID(box);
    view->setPanel(std::nullopt);

    // The stepper stops at 1 and 9999.
    view->openToolStyle();
    settle();
    auto* counter = find<QSpinBox>("nextCounter");
    EXPECT_TRUE(counter->text().startsWith("Next counter: "));
    counter->setValue(0);
    EXPECT_EQ(session().nextCounter(), 1);
    counter->setValue(20000);
    EXPECT_EQ(session().nextCounter(), 9999);
}

TEST_F(InspectorSheetTest, SizesNoLayerMayCarryAreNeitherTakenNorRememberedNorLoaded) {
    session().selectTool(QStringLiteral("rectangle"));
    view->openToolStyle();
    settle();
    for (const char* field : {"strokeWidthField", "fontSizeField"})
        for (const char* text : {"0", "-2", "nan", "inf", "1e9", "abc"}) {
            const ScreenshotStyle before = session().style();
            paste(field, text);
            EXPECT_EQ(session().style(), before) << field << ' ' << text;
            emit find<DecimalField>(field)->editingFinished();
            EXPECT_EQ(find<DecimalField>(field)->text(), QString(field == std::string("strokeWidthField") ? "3" : "24"));
        }
    type("strokeWidthField", "200");
    type("fontSizeField", "1000");
    EXPECT_EQ(session().style().strokeWidth, 200);
    EXPECT_EQ(session().style().fontSize, 1000);

    // "Remember tool style" stores the style for the tool, which choosing the tool loads again.
    type("strokeWidthField", "12");
    QTest::mouseClick(find("rememberStyle"), Qt::LeftButton);
    EXPECT_TRUE(defaults.data("screenshot.style.rectangle"));
    view->setPanel(std::nullopt);
    session().setStyle(ScreenshotStyle{});
    session().selectTool(QStringLiteral("rectangle"));
    EXPECT_EQ(session().style().strokeWidth, 12);

    // A stored style outside those rules is ignored like one that does not decode.
    ScreenshotStyle huge;
    huge.strokeWidth = 500;
    defaults.setData(ScreenshotDocumentSession::styleKey(QStringLiteral("arrow")), encodeScreenshotStyle(huge));
    session().selectTool(QStringLiteral("arrow"));
    EXPECT_EQ(session().style().strokeWidth, 12);
}

TEST_F(InspectorSheetTest, ObjectDetailsEditGeometryLiveAsOneStepAndRefuseWhatCannotBeApplied) {
    open(EditorPanel::object);
    EXPECT_TRUE(sheet()->page()->findChild<QLabel*>()->text() == "Select an object first.");
    ScreenshotLayer box = View::coverLayer(ScreenshotLayerKind::rectangle, QRectF(100, 100, 50, 40));
    session().addLayer(box);
    settle();
    auto frame = [&] { return session().document().layers.back().frame; };
    const std::size_t steps = session().undoStack().size();
    struct Case {
        const char* field;
        const char* text;
        QRectF frame;
        double rotation;
    };
    const Case cases[] = {
        {"X", "-20", QRectF(-20, 100, 50, 40), 0},
        {"Y", "5.5", QRectF(-20, 5.5, 50, 40), 0},
        {"Width", "0.5", QRectF(-20, 5.5, 50, 40), 0},  // ignored while it cannot apply
        {"Rotation degrees", "30", QRectF(-20, 5.5, 50, 40), 0},
        {"Width", "2", QRectF(-20, 5.5, 2, 40), 30},
    };
    for (const Case& c : cases) {
        paste(c.field, c.text);
        EXPECT_TRUE(sameRect(frame(), c.frame)) << c.field << ' ' << c.text;
        EXPECT_EQ(session().document().layers.back().rotation, c.rotation) << c.text;
    }
    view->setPanel(std::nullopt);
    EXPECT_EQ(session().undoStack().size(), steps + 1);
    session().undo();
    EXPECT_TRUE(sameRect(frame(), QRectF(100, 100, 50, 40)));

    // A position the document refuses applies live, then the commit reports it and puts it back.
    session().setSelectedID(session().document().layers.back().id);
    open(EditorPanel::object);
    paste("X", "1e12");
    EXPECT_EQ(frame().x(), 1e12);
    view->setPanel(std::nullopt);
    EXPECT_TRUE(sameRect(frame(), QRectF(100, 100, 50, 40)));
    EXPECT_FALSE(session().status().isEmpty());
    EXPECT_NE(session().status(), ScreenshotDocumentSession::savedStatus);

    // A position between pixels reads to three decimals and stays as it is.
    session().edit([](ScreenshotDocument& d) { d.layers.back().frame.moveLeft(33.70967741935482); });
    open(EditorPanel::object);
    EXPECT_EQ(find<DecimalField>("X")->text(), "33.71");
    view->setPanel(std::nullopt);
    EXPECT_EQ(frame().x(), 33.70967741935482);

    // Controls by kind: the text editor for text kinds, the value field by its title.
    struct Kind {
        ScreenshotLayerKind kind;
        bool text;
        const char* value;
    };
    for (const Kind& k : {Kind{ScreenshotLayerKind::text, true, ""}, Kind{ScreenshotLayerKind::counter, true, ""},
                          Kind{ScreenshotLayerKind::callout, true, ""}, Kind{ScreenshotLayerKind::magnifier, false, "Magnification"},
                          Kind{ScreenshotLayerKind::blur, false, "Effect px"}, Kind{ScreenshotLayerKind::pixelate, false, "Effect px"},
                          Kind{ScreenshotLayerKind::arrow, false, ""}}) {
        ScreenshotLayer layer;
        layer.kind = k.kind;
        layer.frame = QRectF(1, 1, 10, 10);
        ScreenshotObjectInspector inspector(session(), layer);
        EXPECT_EQ(bool(inspector.findChild<QPlainTextEdit*>()), k.text) << int(k.kind);
        EXPECT_EQ(bool(inspector.findChild<DecimalField*>("Magnification")), k.value == std::string("Magnification"));
        EXPECT_EQ(bool(inspector.findChild<DecimalField*>("Effect px")), k.value == std::string("Effect px"));
    }
}

TEST_F(InspectorSheetTest, ObjectDetailsTextCounterDuplicateOrderAndDelete) {
    ScreenshotLayer counter;
    counter.kind = ScreenshotLayerKind::counter;
    counter.frame = QRectF(100, 100, 50, 40);
    counter.text = "1";
    counter.originalText = "Quelle";
    session().addLayer(counter);
    open(EditorPanel::object);
    auto* original = find<QLabel>("originalText");
    EXPECT_EQ(original->text(), "Original: Quelle");
    EXPECT_TRUE(original->textInteractionFlags() & Qt::TextSelectableByMouse);

    // Typing changes the layer live; leaving the editor ends one step and moves the next counter.
    auto* inspector = find<ScreenshotObjectInspector>("objectInspector");
    const std::size_t steps = session().undoStack().size();
    find<QPlainTextEdit>("layerText")->setPlainText("7");
    EXPECT_EQ(session().document().layers.back().text, "7");
    EXPECT_EQ(session().status().left(13), "Editing text.");
    inspector->commitText();
    EXPECT_EQ(session().undoStack().size(), steps + 1);
    EXPECT_EQ(session().nextCounter(), 8);
    for (auto [text, next] : {std::pair{"9999", 9999}, std::pair{"0", 9999}, std::pair{"-3", 9999},
                              std::pair{"12a", 9999}, std::pair{" 7", 9999}, std::pair{"+12", 13},
                              std::pair{"99999999999999999999", 13}}) {
        inspector->updateText(QString::fromUtf8(text));
        inspector->commitText();
        EXPECT_EQ(session().nextCounter(), next) << text;
    }

    // Duplicate copies the layer as it is now, 12 px down and right, and shows the copy.
    session().edit([](ScreenshotDocument& d) { d.layers.back().text = "5"; });
    settle();
    find<QPushButton>("duplicateLayer")->click();
    settle();
    ASSERT_EQ(session().document().layers.size(), 3u);
    EXPECT_TRUE(sameRect(session().document().layers[2].frame, QRectF(112, 112, 50, 40)));
    EXPECT_EQ(session().document().layers[2].text, "5");
    EXPECT_EQ(find<ScreenshotObjectInspector>("objectInspector")->layer().id, session().document().layers[2].id);

    // Forward at the end and Backward at the start change nothing; Backward swaps.
    const std::size_t before = session().undoStack().size();
    find<QPushButton>("forwardLayer")->click();
    EXPECT_EQ(session().undoStack().size(), before);
    find<QPushButton>("backwardLayer")->click();
    EXPECT_EQ(session().document().layers[1].id, *session().selectedID());
    EXPECT_EQ(session().undoStack().size(), before + 1);

    // Delete clears the selection and the page; Undo brings the layer back.
    find<QPushButton>("deleteLayer")->click();
    settle();
    EXPECT_FALSE(session().selectedID());
    EXPECT_EQ(session().document().layers.size(), 2u);
    EXPECT_FALSE(view->findChild<ScreenshotObjectInspector*>());
    session().undo();
    EXPECT_EQ(session().document().layers.size(), 3u);
}

// What the document refuses changes nothing else: a counter text it will not save leaves the
// counting where it was, and a Delete it cannot save keeps the layer selected and says why.
TEST_F(InspectorSheetTest, RefusedCounterTextsAndADeleteThatCannotBeSavedChangeNothingElse) {
    for (int n = 1; n <= 5; ++n) add(ScreenshotLayerKind::counter, std::to_string(n));
    ASSERT_EQ(session().nextCounter(), 6);
    const Uuid second = session().document().layers[2].id;
    session().setSelectedID(second);
    open(EditorPanel::object);
    auto* inspector = find<ScreenshotObjectInspector>("objectInspector");
    for (const char* text : {"abc", "0", "-3", "12a", " 7", "10000", ""}) {
        find<QPlainTextEdit>("layerText")->setPlainText(QString::fromUtf8(text));
        inspector->commitText();
        settle();
        EXPECT_EQ(session().document().layers[2].text, "2") << text;
        EXPECT_EQ(session().nextCounter(), 6) << text;
    }

    const fs::path index = session().directory() / "document.json";
    fs::remove(index);
    fs::create_directory(index);  // no file can be renamed over it
    QString reason;
    try {
        ScreenshotDocument::save(session().document(), session().directory());
    } catch (const std::exception& e) {
        reason = QString::fromUtf8(e.what());
    }
    ASSERT_FALSE(reason.isEmpty());
    // The inspector's Delete and the Delete key alike keep the layer and say why.
    for (const bool key : {false, true}) {
        session().setStatus({});
        key ? QTest::keyClick(view->canvas(), Qt::Key_Delete) : find<QPushButton>("deleteLayer")->click();
        settle();
        EXPECT_EQ(session().document().layers.size(), 6u);
        EXPECT_EQ(session().selectedID(), second);
        EXPECT_EQ(session().status(), ScreenshotCanvasView::deleteFailedPrefix + reason);
        EXPECT_EQ(find<ScreenshotObjectInspector>("objectInspector")->layer().id, second);
    }
}

}  // namespace
}  // namespace brevalto
