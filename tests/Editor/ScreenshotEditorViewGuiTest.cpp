// The editor view: the toolbar's items and modes, the palette, the readouts, copying and sharing,
// the selection bar, the backdrop popover and the More menu.
#include "EditorViewFixture.h"

#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "AccessibleNames.h"
#include "Editor/View/BackdropPopover.h"
#include "Editor/View/EditorControls.h"
#include "Editor/View/EditorMoreMenu.h"
#include "Editor/View/EditorToolbar.h"
#include "Editor/View/ScreenshotContextBar.h"
#include "Editor/View/ScreenshotShareButton.h"
#include "Editor/View/SelectionActionBar.h"
#include "Editor/View/ToolPalette.h"
#include "Platform/Symbols.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QPaintEvent>
#include <QSet>
#include <QPainter>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using View = ScreenshotEditorView;

QImage png(const PasteboardItem& item) {
    return QImage::fromData(item.data(PasteboardType::png).value_or(QByteArray()), "PNG");
}

TEST_F(EditorViewTest, EveryToolbarItemHasItsNameHelpLabelAndStateAndNoneTakesTheKeyboard) {
    struct Item {
        const char* name;
        const char* help;
        const char* label;
        bool shown;
        bool enabled;
    };
    const Item items[] = {
        {"copyImage", "Copy image", "Copy image", true, true},
        {"saveAs", "Save As\u2026", "Save As\u2026", true, true},
        {"pin", "Pin floating", "Pin floating", true, true},
        {"drag", "Drag PNG file to another app", "Drag rendered PNG file to another app", true, true},
        {"share", "Share", "Share", true, true},
        {"backdrop", "Backdrop", "Backdrop", true, true},
        {"tool.select", "Select / area (V)", "Select / area (V)", true, true},
        {"tool.arrow", "Arrow (A)", "Arrow (A)", true, true},
        {"moreTools", "More tools", "More tools", true, true},
        {"undo", "Undo Ctrl+Z", "Undo Ctrl+Z", true, false},
        {"redo", "Redo Ctrl+Shift+Z", "Redo Ctrl+Shift+Z", true, false},
        {"hoverColor", "Color under the pointer. Click or press Tab to copy.", "Color under pointer #------. Copy",
         true, true},
        {"zoom", "Toggle 100% and Fit", nullptr, true, true},
        {"more", "More", "More actions", true, true},
        {"done", "Close the editor. Changes are saved.", "Done", true, true},
    };
    for (const Item& item : items) {
        SCOPED_TRACE(item.name);
        QWidget* widget = find(QString::fromUtf8(item.name));
        ASSERT_TRUE(widget);
        EXPECT_EQ(widget->toolTip(), QString::fromUtf8(item.help));
        if (item.label && *item.label) {
            EXPECT_EQ(widget->accessibleName(), QString::fromUtf8(item.label));
        }
        EXPECT_EQ(widget->isVisible(), item.shown);
        EXPECT_EQ(widget->isEnabled(), item.enabled);
        EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(find("zoom")->accessibleName(),
              QStringLiteral("Zoom %1 percent. Toggle 100% and Fit").arg(std::lround(session().zoom() * 100)));
    // Every symbol the editor draws has a drawing and is listed.
    for (auto* button : view->findChildren<EditorIconButton*>()) {
        EXPECT_TRUE(Symbols::has(button->symbol())) << button->symbol().toStdString();
        EXPECT_TRUE(Symbols::names().contains(button->symbol())) << button->symbol().toStdString();
    }
    for (const auto* table : {&EditorTool::palette(), &EditorTool::moreTools()})
        for (const EditorTool& tool : *table) EXPECT_TRUE(Symbols::has(tool.icon)) << tool.icon.toStdString();
    // The canvas has the keyboard: a tool letter then a drag makes a layer without a click first.
    EXPECT_TRUE(view->canvas()->hasFocus());
    // The context bar is made once the tool has a style to show.
    EXPECT_FALSE(view->findChild<ScreenshotContextBar*>());
    QTest::keyClick(view->canvas(), Qt::Key_R);
    EXPECT_EQ(session().tool(), QStringLiteral("rectangle"));
    EXPECT_TRUE(find<EditorIconButton>("tool.rectangle")->active());
    settle();
    ASSERT_TRUE(view->findChild<ScreenshotContextBar*>());
    EXPECT_TRUE(view->findChild<ScreenshotContextBar*>()->isVisible());
    click("zoom");  // a click on the bar leaves the keyboard with the canvas
    EXPECT_TRUE(view->canvas()->hasFocus());
    click("done");
    EXPECT_EQ(closed, 1);
}

// The rows draw their controls: none of them is left blank, a change of one repaints its row
// there, and a control outside a row still draws itself.
TEST_F(EditorViewTest, TheBarsRowsDrawTheirControlsAndRedrawTheOneThatChanges) {
    const auto colours = [](const QImage& image) {
        QSet<QRgb> seen;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) seen.insert(image.pixel(x, y));
        return seen.size();
    };
    EditorToolbar* toolbar = view->toolbar();
    const QImage bar = toolbar->grab().toImage();
    int controls = 0;
    for (QWidget* control : toolbar->findChildren<QWidget*>()) {
        if (!dynamic_cast<EditorRowControl*>(control) || !control->isVisible()) continue;
        ++controls;
        const QRect area(control->mapTo(toolbar, QPoint(0, 0)), control->size());
        EXPECT_GT(colours(bar.copy(area)), 1) << control->objectName().toStdString();
    }
    EXPECT_EQ(controls, 23);  // six on the left, nine tools and "More tools", undo, redo, three readouts, More, Done

    struct PaintRecorder : QObject {
        QRegion painted;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
            return false;
        }
    } recorder;
    ToolPalette* palette = toolbar->palette();
    palette->installEventFilter(&recorder);
    session().selectTool(QStringLiteral("arrow"));
    settle();
    EXPECT_TRUE(recorder.painted.contains(find("tool.arrow")->geometry()));
    EXPECT_TRUE(recorder.painted.contains(find("tool.select")->geometry()));

    QWidget plain;
    EditorIconButton alone(QStringLiteral("pin"), QStringLiteral("Pin"), QStringLiteral("alone"), &plain);
    EXPECT_GT(colours(alone.grab().toImage()), 1);
}

TEST_F(EditorViewTest, TheModeGroupShowsTheProposalThenTheSelectionBarThenThePalette) {
    ToolPalette* palette = view->toolbar()->palette();
    auto shown = [&] {
        return std::tuple(view->toolbar()->smartGroup()->isVisible(), view->toolbar()->selectionBar()->isVisible(),
                          palette->isVisible());
    };
    EXPECT_EQ(shown(), std::tuple(false, false, true));
    session().setSelectionRect(QRectF(10, 10, 50, 40));
    session().setSmartCandidate(QRectF(0, 0, 100, 100));
    EXPECT_EQ(shown(), std::tuple(true, false, false));
    click("cancelSmartSelection");
    EXPECT_EQ(shown(), std::tuple(false, true, false));
    EXPECT_EQ(session().selection(), QRectF(10, 10, 50, 40));
    session().setSmartCandidate(QRectF(0, 0, 100, 100));
    click("applySelection");
    EXPECT_EQ(session().selection(), QRectF(0, 0, 100, 100));
    click("cancelSelection");
    EXPECT_EQ(shown(), std::tuple(false, false, true));
    // Choosing a tool clears the selection first, even the same tool again.
    session().setSelectionRect(QRectF(1, 1, 5, 5));
    click("tool.select");
    EXPECT_FALSE(session().selection());
}

TEST_F(EditorViewTest, ThePaletteShrinksByWidthAndListsTheToolsLeftOutFirst) {
    ToolPalette* palette = view->toolbar()->palette();
    EXPECT_EQ(palette->shown(), 9);  // a 1100-point panel holds the whole row
    for (const auto& [width, n] : std::vector<std::pair<int, int>>{{ToolPalette::rowWidth(9), 9},
                                                                   {ToolPalette::rowWidth(9) - 1, 7},
                                                                   {ToolPalette::rowWidth(7) - 1, 5},
                                                                   {ToolPalette::rowWidth(5) - 1, 3},
                                                                   {10, 3}}) {
        palette->resize(width, 28);
        EXPECT_EQ(palette->shown(), n) << width;
        QStringList titles;
        for (QAction* entry : palette->moreTools()->actions()) titles << entry->text();
        QStringList expected;
        for (std::size_t i = n; i < EditorTool::palette().size(); ++i) expected << EditorTool::palette()[i].title;
        for (const EditorTool& tool : EditorTool::moreTools()) expected << tool.title;
        EXPECT_EQ(titles, expected);
    }
    // A narrow panel: fewer tools, and every item of the row still inside the bar.
    view->resize(860, 600);
    settle();
    EXPECT_LT(palette->shown(), 9);
    QWidget* done = find("done");
    EXPECT_LE(done->mapTo(view->toolbar(), QPoint(done->width(), 0)).x(), view->toolbar()->width());
    palette->moreTools()->actions().constLast()->trigger();
    EXPECT_EQ(session().tool(), QStringLiteral("pan"));
}

TEST_F(EditorViewTest, SizeZoomAndSecretReadoutsFollowTheSession) {
    auto* size = view->toolbar()->sizeReadout();
    EXPECT_EQ(size->value(), QStringLiteral("1200\u00D7800 px"));
    ScreenshotBackdrop backdrop;
    backdrop.enabled = true;
    backdrop.padding = 40;
    backdrop.shadow = 20;
    session().edit([&](ScreenshotDocument& d) { d.backdrop = backdrop; });
    EXPECT_EQ(size->value(), QStringLiteral("1320\u00D7920 px"));  // margin max(40, 60)
    EXPECT_EQ(size->caption(), QStringLiteral("Image size"));
    EXPECT_TRUE(find("undo")->isEnabled());  // the new document's undo step is there at once
    session().setSelectionRect(QRectF(10.7, 3, 300.9, 200.2));
    EXPECT_EQ(size->value(), QStringLiteral("300\u00D7200 px"));
    EXPECT_EQ(size->caption(), QStringLiteral("Selection size"));

    auto* zoom = find<EditorReadoutButton>("zoom");
    QSignalSpy viewport(&session(), &ScreenshotDocumentSession::viewport);
    for (const auto& [value, text, sent] : std::vector<std::tuple<double, const char*, const char*>>{
             {1.0004, "100%", "fit"}, {1.5, "150%", "actual"}, {0.125, "13%", "actual"}}) {
        session().setZoom(value);
        EXPECT_EQ(zoom->value(), QString::fromUtf8(text));
        QTest::mouseClick(zoom, Qt::LeftButton);
        EXPECT_EQ(viewport.takeLast().at(0).toString(), QString::fromUtf8(sent));
    }

    const ScreenshotDocument before = session().document();
    for (const auto& [count, text] : std::vector<std::pair<int, const char*>>{{1, "Redact 1 secret"}, {2, "Redact 2 secrets"}}) {
        session().setSecretCandidates(ScreenshotDocumentSession::SecretCandidates{
            session().document().revision, std::vector<QRectF>(std::size_t(count), QRectF(1, 1, 10, 10))});
        EXPECT_EQ(find<QAbstractButton>("redactSecrets")->text(), QString::fromUtf8(text));
        EXPECT_EQ(find("redactSecrets")->toolTip(), QStringLiteral("On-device OCR found likely keys, tokens or emails "
                                                                   "(orange boxes). Click to cover them with opaque masks."));
        EXPECT_EQ(find("dismissSecrets")->accessibleName(), QStringLiteral("Dismiss secret warning"));
        EXPECT_TRUE(find("dismissSecrets")->isVisible());
    }
    click("dismissSecrets");
    EXPECT_FALSE(find("redactSecrets")->isVisible());
    EXPECT_FALSE(session().secretCandidates());
    EXPECT_EQ(session().document(), before);
}

TEST_F(EditorViewTest, CopyImageTabAndShareWriteTheRightPixelsAsTheAppsOwnCopy) {
    session().edit([](ScreenshotDocument& d) { d.backdrop.enabled = true; });
    session().setSelectionRect(QRectF(100, 100, 50, 20));
    settle();
    click("copyImage");  // the whole document with its backdrop, whatever the selection
    const double margin = 2 * std::max(40.0, std::ceil(3 * 12.0));
    EXPECT_EQ(png(board.content()).size(), QSize(1200 + int(margin), 800 + int(margin)));
    EXPECT_EQ(board.content().data(PasteboardType::restored), QByteArray("1"));
    EXPECT_EQ(session().status(), View::copiedImageStatus);

    // Share: the selection's exact pixels, copied from its menu.
    UrlOpener opener;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "open");
    auto* share = view->toolbar()->shareButton();
    click("share");
    ASSERT_TRUE(share->menu()->isVisible());
    EXPECT_EQ(share->shared().size(), QSize(50, 20));
    EXPECT_EQ(share->shared().pixelColor(0, 0), QColor(Qt::blue));
    trigger("shareOpen");
    share->menu()->hide();
    ASSERT_EQ(opener.opened.size(), 1u);
    const fs::path opened = opener.opened[0].toLocalFile().toStdString();
    EXPECT_EQ(opened.parent_path(), folder / "run");
    EXPECT_TRUE(QString::fromStdString(opened.filename().string()).startsWith(QStringLiteral("Brevalto-Share-")));
    EXPECT_EQ(fs::status(opened).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(QImage(QString::fromStdString(opened.string())).size(), QSize(50, 20));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    dialogs.answer = QUrl::fromLocalFile(QString::fromStdString((folder / "shared.png").string()));
    trigger("shareSaveAs");
    EXPECT_EQ(QImage(QString::fromStdString((folder / "shared.png").string())).size(), QSize(50, 20));
    EXPECT_TRUE(session().status().startsWith(QStringLiteral("Saved shared.png. The file is yours")));

    // Tab copies the colour under the pointer as text; off the image it says how to sample.
    session().setHoverColor(std::nullopt);
    QTest::keyClick(view->canvas(), Qt::Key_Tab);
    EXPECT_EQ(session().status(), View::noHoverColorStatus);
    QTest::mouseMove(view->canvas(), view->canvas()->viewPoint(QPointF(150, 150)).toPoint());
    ASSERT_TRUE(session().hoverColor());
    QTest::keyClick(view->canvas(), Qt::Key_Tab);
    EXPECT_EQ(board.content().data(PasteboardType::string), QByteArray("#0000FF"));
    EXPECT_EQ(session().status(), QStringLiteral("Copied #0000FF."));

    // After a crop that leaves the selection outside: copy, drag and share refuse and leave the clipboard.
    session().edit([](ScreenshotDocument& d) { d.crop = QRectF(600, 400, 100, 100); });
    session().setSelectionRect(QRectF(0, 0, 20, 20));
    const std::int64_t count = board.changeCount();
    share->menu()->hide();
    for (const auto& [name, output] : {std::pair{"copySelection", View::Output::copy}, std::pair{"share", View::Output::share}}) {
        session().setStatus({});
        click(QString::fromUtf8(name));
        EXPECT_EQ(session().status(), View::refusedStatus(output, ScreenshotEditorController::outsideSelectionMessage)) << name;
    }
    EXPECT_FALSE(share->menu()->isVisible());
    EXPECT_EQ(board.changeCount(), count);
}

TEST_F(EditorViewTest, TheSelectionBarCropsCopiesCoversAndMasksTheSelection) {
    session().setSelectionRect(QRectF(100, 100, 40, 30));
    click("copySelection");
    const QImage copied = png(board.content());
    EXPECT_EQ(copied.size(), QSize(40, 30));
    EXPECT_EQ(copied.pixelColor(5, 5), QColor(Qt::blue));
    EXPECT_EQ(session().status(), View::copiedSelectionStatus);

    const ScreenshotDocument before = session().document();
    const std::size_t base = layers();  // the source image
    click("zoomToSelection");
    EXPECT_EQ(session().document(), before);

    click("redactSelection");
    ASSERT_EQ(layers(), base + 1);
    const ScreenshotLayer redact = session().document().layers.back();
    EXPECT_EQ(redact.kind, ScreenshotLayerKind::redact);
    EXPECT_EQ(redact.frame, QRectF(100, 100, 40, 30));
    EXPECT_TRUE(redact.style.filled);
    EXPECT_EQ(redact.style.fill, (ScreenshotColor::RGBA{0, 0, 0, 1}));
    EXPECT_EQ(session().selectedID(), redact.id);
    EXPECT_FALSE(session().selection());
    click("undo");
    EXPECT_EQ(layers(), base);

    session().setSelectionRect(QRectF(5, 5, 10, 10));
    click("eraseSelection");
    ASSERT_EQ(layers(), base + 1);
    const ScreenshotLayer erase = session().document().layers.back();
    EXPECT_EQ(erase.kind, ScreenshotLayerKind::erase);
    EXPECT_FALSE(erase.style.filled);
    EXPECT_EQ(erase.style.fill, (ScreenshotColor::RGBA{1, 1, 1, 1}));

    // Blur text: the selection goes at once, the lines' blur layers come later as one step.
    recognizer.lines = {FakeTextRecognizer::line("ab", QPoint(2, 2)), FakeTextRecognizer::line("cd", QPoint(2, 30))};
    session().setSelectionRect(QRectF(0, 0, 200, 100));
    click("blurText");
    EXPECT_FALSE(session().selection());
    const std::size_t undo = session().undoStack().size();
    settle();
    EXPECT_EQ(layers(), base + 3);
    EXPECT_EQ(session().document().layers.back().kind, ScreenshotLayerKind::blur);
    EXPECT_EQ(session().undoStack().size(), undo + 1);

    // A crop of a zero-pixel selection says so.
    session().setSelectionRect(QRectF(5, 5, 0, 0));
    click("cropSelection");
    EXPECT_EQ(session().status(), QStringLiteral("The crop area is empty."));
    session().setSelectionRect(QRectF(10, 20, 300, 200));
    click("cropSelection");
    EXPECT_EQ(session().document().crop, QRectF(10, 20, 300, 200));
}

TEST_F(EditorViewTest, AFailedSaveLeavesTheDocumentAndTheSelectionWithTheReasonShown) {
    // The document's folder refuses the next revision (its index is now a folder).
    const fs::path index = session().directory() / "document.json";
    fs::remove(index);
    fs::create_directory(index);
    const std::size_t base = layers();
    session().setSelectionRect(QRectF(10, 10, 20, 20));
    for (const char* name : {"redactSelection", "eraseSelection"}) {
        session().setStatus({});
        click(QString::fromUtf8(name));
        EXPECT_EQ(layers(), base) << name;
        EXPECT_EQ(session().selection(), QRectF(10, 10, 20, 20)) << name;
        EXPECT_FALSE(session().status().isEmpty()) << name;
    }
    trigger("rasterize");
    EXPECT_EQ(layers(), base);
    EXPECT_TRUE(session().undoStack().empty());
}

TEST_F(EditorViewTest, BackdropPopoverEditsLiveAndEndsAsOneUndoStep) {
    const ScreenshotDocument original = session().document();
    click("backdrop");
    BackdropPopover* popover = view->backdropPopover();
    ASSERT_TRUE(popover && popover->isVisible());
    EXPECT_FALSE(find("removeBackdrop")->isEnabled());
    // Assistive technology reaches the popover from the editor and reads each control's name.
    const auto names = accessibleControlNames(*view);
    const std::vector<std::pair<std::string, std::string>> popoverNames{
        {"backdropPadding", "Backdrop"}, {"backdropShadow", "Shadow"}, {"backdropRadius", "Radius"},
        {"backdropAngle", "Angle"},      {"gradient1", "Gradient 1"},  {"gradient2", "Gradient 2"},
        {"gradient3", "Gradient 3"},     {"gradient4", "Gradient 4"},  {"gradient5", "Gradient 5"},
        {"gradient6", "Gradient 6"},     {"backdropStart", "Start"},   {"backdropEnd", "End"},
        {"removeBackdrop", "Remove"},    {"backdropDone", "Done"}};
    ASSERT_GE(names.size(), popoverNames.size());
    EXPECT_EQ(std::vector(names.end() - std::ptrdiff_t(popoverNames.size()), names.end()), popoverNames);
    popover->hide();  // a click outside, Escape, Done: all end the same way
    EXPECT_FALSE(view->showBackdrop());
    EXPECT_EQ(session().document(), original);
    EXPECT_TRUE(session().undoStack().empty());

    click("backdrop");
    click("gradient3");
    const ScreenshotBackdrop& b = session().document().backdrop;
    EXPECT_TRUE(b.enabled);
    EXPECT_EQ(b.first, (ScreenshotColor::RGBA{0.1, 0.1, 0.18, 1.0}));
    EXPECT_EQ(b.second, (ScreenshotColor::RGBA{0.91, 0.27, 0.38, 1.0}));
    EXPECT_EQ(b.padding, 40);
    EXPECT_EQ(b.angle, 45);
    popover->slider(0)->setValue(120);
    popover->slider(0)->setValue(999);  // held inside 0...300
    popover->slider(3)->setValue(90);
    click("gradient1");
    EXPECT_EQ(session().document().backdrop.padding, 300);
    EXPECT_EQ(view->toolbar()->sizeReadout()->value(), QStringLiteral("1800\u00D71400 px"));
    EXPECT_TRUE(find<EditorIconButton>("backdrop")->active());
    QTest::keyClick(popover, Qt::Key_Return);
    EXPECT_FALSE(popover->isVisible());
    EXPECT_EQ(session().undoStack().size(), 1u);  // everything in the popover is one step

    click("backdrop");
    click("removeBackdrop");
    EXPECT_FALSE(session().document().backdrop.enabled);
    EXPECT_FALSE(view->showBackdrop());
    click("backdrop");
    EXPECT_EQ(popover->slider(0)->value(), 300);  // only "enabled" changed
    EXPECT_EQ(popover->slider(3)->value(), 90);
    popover->hide();
}

// The sliders hold whole numbers inside their ranges; showing a field never writes it back.
TEST_F(EditorViewTest, ABackdropPresetLeavesTheFieldsTheSlidersCannotShowExactly) {
    session().edit([](ScreenshotDocument& d) {
        d.backdrop.padding = 40.4;
        d.backdrop.shadow = 150;
        d.backdrop.radius = 18.6;
        d.backdrop.angle = 22.5;
    });
    click("backdrop");
    click("gradient1");
    const ScreenshotBackdrop& b = session().document().backdrop;
    EXPECT_TRUE(b.enabled);
    EXPECT_EQ(b.first, (ScreenshotColor::RGBA{0.12, 0.42, 1.0, 1.0}));
    EXPECT_EQ(std::vector<double>({b.padding, b.shadow, b.radius, b.angle}),
              std::vector<double>({40.4, 150, 18.6, 22.5}));
    view->backdropPopover()->hide();
}

TEST_F(EditorViewTest, TheMoreMenuHasItsSectionsAndItemsWithTheirRulesAndStatuses) {
    auto* menu = view->toolbar()->moreMenu();
    QStringList entries;
    for (QAction* entry : menu->actions())
        entries << (entry->isSeparator() ? "[" + entry->text() + "]" : entry->text().replace("&&", "&"));
    EXPECT_EQ(entries, QStringList({"[Selection]", "Crop selection", "Reset crop", "Auto-adjust selection",
                                    "Text-only masks (local OCR)", "Find secrets (local OCR)", "Cancel mask OCR",
                                    "Selection\u2026", "[AI & text]", "OCR", "Translate text", "Translate image",
                                    "[Composition]", "Add Capture", "Import files\u2026", "Import clipboard",
                                    "Arrange image layers", "Expand canvas to objects", "Composition options\u2026",
                                    "[Export]", "Save As\u2026", "Copy File URL", "Upload and copy link",
                                    "Save as new history item", "Print\u2026", "Before/after GIF\u2026",
                                    "Export options\u2026", "[Canvas]", "Resize\u2026", "Rasterize (Undo available)",
                                    "Layers\u2026", "Color & contrast\u2026", "Tool style\u2026", "[View]",
                                    "Actual size", "Fit", "Fit selection",
                                    "Snap to objects / canvas", "Show guides"}));
    for (QAction* entry : menu->actions()) EXPECT_TRUE(entry->shortcut().isEmpty());

    EXPECT_FALSE(action("cropToSelection")->isEnabled());
    EXPECT_FALSE(action("resetCrop")->isEnabled());
    trigger("autoAdjustSelection");
    EXPECT_EQ(session().status(), View::selectFirstStatus);
    session().setSelectionRect(QRectF(10, 20, 30, 40));
    EXPECT_TRUE(action("cropToSelection")->isEnabled());
    trigger("cropToSelection");
    EXPECT_TRUE(action("resetCrop")->isEnabled());
    trigger("resetCrop");
    EXPECT_FALSE(session().document().crop);
    click("undo");
    EXPECT_EQ(session().document().crop, QRectF(10, 20, 30, 40));
    trigger("cancelMaskOCR");
    EXPECT_EQ(session().status(), View::masksCancelledStatus);

    // Find secrets looks at the whole image and keeps the selection; text masks clear it.
    session().setSelectionRect(QRectF(12, 22, 5, 5));
    recognizer.lines = {FakeTextRecognizer::line("a@b.io", QPoint(12, 22))};
    trigger("findSecrets");
    EXPECT_TRUE(session().selection());
    EXPECT_EQ(session().secretFrames().size(), 1u);
    EXPECT_TRUE(find("redactSecrets")->isVisible());
    click("redactSecrets");
    EXPECT_EQ(session().document().layers.back().kind, ScreenshotLayerKind::redact);

    // Save As onto a taken name writes beside it; Copy File URL puts the new file on the clipboard.
    std::ofstream(folder / "taken.png") << "kept";
    dialogs.answer = QUrl::fromLocalFile(QString::fromStdString((folder / "taken.png").string()));
    session().setSelectionRect(std::nullopt);
    trigger("copyFileURL");
    EXPECT_TRUE(fs::exists(folder / "taken-1.png"));
    EXPECT_TRUE(session().status().startsWith(QStringLiteral("Saved taken-1.png.")));
    EXPECT_TRUE(board.content().data(PasteboardType::fileURL).has_value());

    const std::size_t steps = session().undoStack().size();
    trigger("rasterize");
    EXPECT_EQ(layers(), 1u);
    EXPECT_EQ(session().undoStack().size(), steps + 1);

    QSignalSpy viewport(&session(), &ScreenshotDocumentSession::viewport);
    trigger("fitSelection");
    EXPECT_EQ(viewport.takeLast().at(0).toString(), QStringLiteral("selection"));
    session().setSnap(false);
    EXPECT_FALSE(action("snap")->isChecked());
    trigger("snap");
    EXPECT_TRUE(session().snap());
    EXPECT_TRUE(action("guides")->isChecked());
}

TEST_F(EditorViewTest, TheMoreMenuHandsItsEditorActionsWithTheirImageToTheApp) {
    std::vector<std::pair<ScreenshotEditorAction, QSize>> sent;
    controller.setOnAction([&](ScreenshotEditorAction a, const QImage& image) { sent.emplace_back(a, image.size()); });
    const struct {
        const char* name;
        ScreenshotEditorAction action;
    } items[] = {{"ocr", ScreenshotEditorAction::ocr},
                 {"translateText", ScreenshotEditorAction::translateText},
                 {"translateImage", ScreenshotEditorAction::translateImage},
                 {"uploadAndCopyLink", ScreenshotEditorAction::upload},
                 {"saveAsNewItem", ScreenshotEditorAction::saveAsNewItem}};
    session().setSelectionRect(QRectF(100, 100, 200, 100));
    for (const auto& item : items) {
        SCOPED_TRACE(item.name);
        sent.clear();
        trigger(item.name);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].first, item.action);
        EXPECT_EQ(sent[0].second, QSize(200, 100)) << "the selection, cut from the visible image";
    }
    // A selection outside the visible image: nothing is sent and the status says why.
    session().setSelectionRect(QRectF(5000, 5000, 10, 10));
    sent.clear();
    trigger("ocr");
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(session().status(), QStringLiteral("The selection is outside the visible image."));
}

TEST_F(EditorViewTest, ToolStyleAndPanelsEndTheirStepWhenTheSheetCloses) {
    ScreenshotStyle red;
    red.strokeWidth = 9;
    ScreenshotLayer box = View::coverLayer(ScreenshotLayerKind::rectangle, QRectF(1, 1, 5, 5));
    box.style = red;
    session().addLayer(box);
    session().setStyle(ScreenshotStyle{});
    QSignalSpy panels(view, &View::panelChanged);
    view->openToolStyle();
    EXPECT_EQ(session().style(), red);
    EXPECT_EQ(view->panel(), EditorPanel::style);
    session().setSelectedID(session().document().layers[0].id);  // the image layer: style stays
    session().setStyle(ScreenshotStyle{});
    view->setPanel(std::nullopt);
    view->openToolStyle();
    EXPECT_EQ(session().style(), ScreenshotStyle{});
    const std::size_t steps = session().undoStack().size();
    view->setPanel(std::nullopt);  // nothing changed in the panel: no new step
    EXPECT_EQ(session().undoStack().size(), steps);
    EXPECT_EQ(panels.size(), 4);
    EXPECT_EQ(editorPanelFromRaw(QStringLiteral("export")), EditorPanel::export_);
    EXPECT_FALSE(editorPanelFromRaw(QStringLiteral("Export")));
    EXPECT_EQ(title(EditorPanel::color), QStringLiteral("Color & contrast"));

    std::vector<std::size_t> indices{0, 1};
    EXPECT_EQ(view->compositionExtents(indices, session().document()), (std::vector<double>{800, 5}));
    view->state().vertical = true;
    EXPECT_EQ(view->compositionExtents(indices, session().document()), (std::vector<double>{1200, 5}));
}

}  // namespace
}  // namespace brevalto
