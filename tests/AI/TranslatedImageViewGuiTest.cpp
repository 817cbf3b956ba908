#include "AI/TranslatedImageModel.h"
#include "AI/TranslatedImageView.h"
#include "Platform/Defaults.h"

#include "FakeTranslatedImageStore.h"
#include "ManualAIBackend.h"
#include "TestFolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

class TranslatedImageViewTest : public ::testing::Test {
public:
    void SetUp() override {
        QImage image(300, 100, QImage::Format_RGB32);
        image.fill(Qt::white);
        image.save(QString::fromStdString((folder / "shot.png").string()));
        ai.detector.fallback = LanguageGuess{"fr", 0.9};
    }
    void open(TranslatedImageModel::Apply apply = {}) {
        model = std::make_shared<TranslatedImageModel>(
            QUrl::fromLocalFile(QString::fromStdString((folder / "shot.png").string())), "ja", false, defaults, ai,
            TranslatedImageModel::PreviewRenderer(), std::move(apply));
        view = std::make_unique<TranslatedImageView>(model, store);
        view->resize(1000, 700);
        view->show();
    }
    void detect() {
        OCRResult found;
        found.text = QStringLiteral("Bonjour\nUne ligne assez longue pour être coupée dans le menu");
        found.regions = {{QStringLiteral("Bonjour"), QRectF(0.1, 0.6, 0.4, 0.3), 0.9f},
                         {QStringLiteral("Une ligne assez longue pour être coupée dans le menu"),
                          QRectF(0.1, 0.1, 0.8, 0.3), 0.9f}};
        model->detectRegions();
        ai.last().finish(found);
    }
    template <class W>
    W* find(const char* name) {
        W* widget = view->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    bool shown(const char* name) { return !find<QWidget>(name)->isHidden(); }
    bool enabled(const char* name) { return find<QWidget>(name)->isEnabled(); }

    TestFolder folder;
    Defaults defaults;
    ManualAIBackend ai;
    FakeTranslatedImageStore store;
    std::shared_ptr<TranslatedImageModel> model;
    std::unique_ptr<TranslatedImageView> view;
};

TEST_F(TranslatedImageViewTest, ControlsFollowTheModel) {
    open();
    // Every element with its own text.
    const std::pair<const char*, const char*> texts[] = {
        {"regionsHintMasks",
         "Best for screenshots and flat backgrounds. Masks are white by default; adjust the color to match. Patterns "
         "behind text are not restored."},
        {"regionsHintPrivacy",
         "Translate Regions sends only the enabled text to the Claude API (paid). The image stays on this computer."},
        {"regionsOutdated", "Preview is out of date."},
        {"regionsTargetLabel", "Translate to"},
        {"regionsScaleLabel", "Font size (shrinks to fit if needed)"},
        {"regionsCoordinatesLabel", "Coordinates 0-1, origin at bottom left"},
    };
    for (const auto& [name, text] : texts) EXPECT_EQ(find<QLabel>(name)->text().toStdString(), text);
    EXPECT_EQ(find<QPushButton>("regionsSave")->text(), QStringLiteral("Save New Image"));
    EXPECT_EQ(find<QScrollArea>("regionsEditorScroll")->width(), 290);
    EXPECT_GE(find<QPlainTextEdit>("regionsText")->minimumHeight(), 130);
    auto* targets = find<QComboBox>("regionsTarget");
    ASSERT_EQ(targets->count(), 7);
    EXPECT_EQ(targets->itemText(1), QStringLiteral("\u65E5\u672C\u8A9E"));
    EXPECT_EQ(targets->currentData().toString(), QStringLiteral("ja"));

    // Detecting: no region to act on yet, and the work can be cancelled.
    detect();
    EXPECT_FALSE(model->busy());
    model->detectRegions();
    EXPECT_FALSE(enabled("regionsTranslate"));
    EXPECT_FALSE(enabled("regionsUpdatePreview"));
    EXPECT_TRUE(shown("regionsProgress"));
    EXPECT_TRUE(shown("regionsCancel"));
    QTest::mouseClick(find<QPushButton>("regionsCancel"), Qt::LeftButton);
    EXPECT_FALSE(model->busy());
    EXPECT_FALSE(shown("regionsProgress"));

    // The region editor shows the selected region.
    auto* regions = find<QComboBox>("regionsRegion");
    ASSERT_EQ(regions->count(), 2);
    EXPECT_EQ(regions->itemText(0), QStringLiteral("1. Bonjour"));
    EXPECT_EQ(regions->itemText(1), QStringLiteral("2. Une ligne assez longue pour "));
    EXPECT_EQ(find<QLabel>("regionsOriginal")->text(), QStringLiteral("Original OCR: Bonjour"));
    EXPECT_TRUE(enabled("regionsTranslate"));
    EXPECT_FALSE(enabled("regionsSave"));
    EXPECT_TRUE(shown("regionsOutdated"));

    // A preview enables saving; any edit outdates it again.
    QTest::mouseClick(find<QPushButton>("regionsUpdatePreview"), Qt::LeftButton);
    ai.work.runAll();
    EXPECT_TRUE(enabled("regionsSave"));
    EXPECT_FALSE(shown("regionsOutdated"));
    find<QPlainTextEdit>("regionsText")->setPlainText(QStringLiteral("Salut"));
    EXPECT_EQ(model->regions()[0].text, QStringLiteral("Salut"));
    EXPECT_EQ(regions->itemText(0), QStringLiteral("1. Salut"));
    EXPECT_TRUE(shown("regionsOutdated"));
    EXPECT_FALSE(enabled("regionsSave"));

    // The tick of "Replace text in this region" stands out from its box on the dark panel.
    {
        auto* box = find<QCheckBox>("regionsEnabled");
        ASSERT_TRUE(box->isChecked());
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).adjusted(3, 3, -3, -3);
        const QImage shot = box->grab().toImage();
        int lightest = 0, darkest = 255;
        for (int y = indicator.top(); y <= indicator.bottom(); ++y)
            for (int x = indicator.left(); x <= indicator.right(); ++x) {
                const int lightness = shot.pixelColor(x, y).lightness();
                lightest = std::max(lightest, lightness);
                darkest = std::min(darkest, lightness);
            }
        EXPECT_GT(lightest - darkest, 120) << "tick and box alike: " << lightest << " and " << darkest;
    }

    // The other fields write into the selected region.
    regions->setCurrentIndex(1);
    emit regions->activated(1);
    EXPECT_EQ(model->selected(), 1u);
    find<QCheckBox>("regionsEnabled")->setChecked(false);
    find<QSlider>("regionsScale")->setValue(150);
    find<QDoubleSpinBox>("regionsX")->setValue(0.25);
    const EditableImageRegion& second = model->regions()[1];
    EXPECT_FALSE(second.enabled);
    EXPECT_DOUBLE_EQ(second.scale, 1.5);
    EXPECT_DOUBLE_EQ(second.x, 0.25);
    EXPECT_EQ(model->regions()[0].text, QStringLiteral("Salut"));

    // Picking a target remembers it for the detected language.
    targets->setCurrentIndex(6);
    emit targets->activated(6);
    EXPECT_EQ(model->target(), "de");
    EXPECT_EQ(defaults.string("translation.target.fr"), "de");

    // While the image is saved to the history the work cannot be cancelled.
    QTest::mouseClick(find<QPushButton>("regionsUpdatePreview"), Qt::LeftButton);
    ai.work.runAll();
    QTest::mouseClick(find<QPushButton>("regionsSave"), Qt::LeftButton);
    ASSERT_EQ(store.added.size(), 1u);
    EXPECT_TRUE(shown("regionsProgress"));
    EXPECT_FALSE(shown("regionsCancel"));
    EXPECT_FALSE(find<QWidget>("regionsEditor")->isEnabled());
    store.added[0].done(true);
    EXPECT_FALSE(shown("regionsProgress"));
    EXPECT_EQ(find<QLabel>("regionsStatus")->text(),
              QStringLiteral("Saved the translated image as a new item. You can copy or drag it."));
}

TEST_F(TranslatedImageViewTest, AnApplyCallbackAppliesToTheDocument) {
    open([](const std::vector<EditableImageRegion>&) {});
    EXPECT_EQ(find<QPushButton>("regionsSave")->text(), QStringLiteral("Apply to Document"));
    EXPECT_EQ(TranslatedImageView::regionLabel(9, QStringLiteral("e\u0301").repeated(30)),
              QStringLiteral("10. ") + QStringLiteral("e\u0301").repeated(28));
}

}  // namespace
}  // namespace brevalto
