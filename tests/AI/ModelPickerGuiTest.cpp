#include "AI/ModelPicker.h"
#include "Errors/AIError.h"
#include "ManualExecutor.h"
#include "Platform/Defaults.h"

#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

const std::vector<AIModel> kLoaded{{"claude-opus-4-1", "Claude Opus 4.1"},
                                   {"claude-sonnet-4-5", "Claude Sonnet 4.5"},
                                   {"claude-sonnet-5", "Claude Sonnet 5"},
                                   {"claude-haiku-4-5", "Claude Haiku 4.5"}};

// A picker over a list source that the test answers: each load asks for its provider's list,
// which `lists` holds (or an error message to throw), when the executor runs it.
struct Fixture {
    Fixture(std::string model = "claude-sonnet-5") {
        picker = std::make_unique<ModelPicker>(
            defaults,
            [this](const std::string& provider) {
                asked.push_back(provider);
                auto answer = lists[provider];
                auto failure = failures[provider];
                return [answer, failure](std::stop_token) {
                    if (!failure.empty()) throw AIError(failure);
                    return answer;
                };
            },
            "anthropic", std::move(model), nullptr, executor);
        picker->resize(400, 60);
    }
    QLineEdit* filter() const { return picker->popover()->findChild<QLineEdit*>("filterModels"); }
    std::vector<std::string> rowIDs() const {
        std::vector<std::string> ids;
        for (ModelRow* row : picker->popover()->findChildren<ModelRow*>()) ids.push_back(row->id());
        return ids;
    }
    ModelRow* row(const QString& name) const { return picker->popover()->findChild<ModelRow*>(name); }
    void key(int key) { QTest::keyClick(filter(), static_cast<Qt::Key>(key)); }
    void loaded() {
        executor.runAll();
        ManualExecutor::deliver();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    Defaults defaults;
    ManualExecutor executor;
    std::map<std::string, std::vector<AIModel>> lists{{"anthropic", kLoaded}};
    std::map<std::string, std::string> failures;
    std::vector<std::string> asked;
    std::unique_ptr<ModelPicker> picker;
};

TEST(ModelPicker, KeysRecentsTypedIdsAndTheSavedTag) {
    Fixture f;
    // A setting written elsewhere: its blank lines are dropped, and every other line counts as it
    // stands, a repeated one and those past the third included.
    f.defaults.set("recentModels", std::string("\n\nmy-own-model\nclaude-opus-4-1\n\nmy-own-model\nold-0\n"));
    EXPECT_EQ(f.picker->recent(),
              (std::vector<std::string>{"my-own-model", "claude-opus-4-1", "my-own-model", "old-0"}));

    // The first showing loads the list.
    f.picker->show();
    EXPECT_TRUE(f.picker->loading());
    EXPECT_FALSE(f.picker->findChild<QToolButton*>("reloadModels")->isEnabled());
    f.loaded();
    EXPECT_FALSE(f.picker->loading());
    EXPECT_EQ(f.picker->findChild<QPushButton*>("modelChooser")->text(), "Claude Sonnet 5");
    EXPECT_EQ(f.picker->findChild<QPushButton*>("modelChooser")->toolTip(), "claude-sonnet-5");

    // Recent first (in the recent order), then the families; the IDs the list lacks carry "saved".
    f.picker->setOpen(true);
    ASSERT_TRUE(f.picker->popover()->isVisible());
    EXPECT_EQ(f.rowIDs(), (std::vector<std::string>{"my-own-model", "claude-opus-4-1", "my-own-model", "old-0",
                                                    "claude-sonnet-4-5", "claude-sonnet-5", "claude-haiku-4-5"}));
    EXPECT_TRUE(f.row("modelRow-my-own-model")->findChild<QLabel*>("saved"));
    EXPECT_FALSE(f.row("modelRow-claude-opus-4-1")->findChild<QLabel*>("saved"));
    EXPECT_EQ(f.row("modelRow-claude-opus-4-1")->findChild<QLabel*>("id")->text(), "claude-opus-4-1");
    EXPECT_FALSE(f.row("modelRow-my-own-model")->findChild<QLabel*>("id"));
    EXPECT_FALSE(f.row("modelRow-claude-sonnet-5")->findChild<QLabel*>("checkmark")->pixmap().isNull());
    EXPECT_TRUE(f.row("modelRow-claude-opus-4-1")->findChild<QLabel*>("checkmark")->pixmap().isNull());
    ASSERT_TRUE(f.picker->popover()->findChild<QLabel*>("modelSection-Recent"));

    // Opening highlights the current model; Up and Down move and stop at either end.
    EXPECT_EQ(f.picker->highlighted(), "claude-sonnet-5");
    EXPECT_TRUE(f.row("modelRow-claude-sonnet-5")->isHighlighted());
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Down);
    EXPECT_EQ(f.picker->highlighted(), "claude-haiku-4-5");
    for (int i = 0; i < 8; ++i) f.key(Qt::Key_Up);
    EXPECT_EQ(f.picker->highlighted(), "my-own-model");

    // Typing highlights the first match; a typed ID that no row has exactly gets a row of its own.
    QTest::keyClicks(f.filter(), "son");
    EXPECT_EQ(f.rowIDs(), (std::vector<std::string>{"claude-sonnet-4-5", "claude-sonnet-5", "son"}));
    EXPECT_EQ(f.picker->highlighted(), "claude-sonnet-4-5");
    EXPECT_EQ(f.row("useTypedModel")->accessibleName(), "Use \u201Cson\u201D");
    f.filter()->setText("claude-opus-4-1");
    EXPECT_FALSE(f.row("useTypedModel"));
    f.filter()->setText("  CLAUDE-OPUS-4-1 ");
    EXPECT_EQ(f.picker->typedID(), "CLAUDE-OPUS-4-1");
    f.filter()->setText("zzzz");
    EXPECT_EQ(f.picker->selectableIDs(), std::vector<std::string>{"zzzz"});

    // Closing after a filter and opening again: Return takes the current model.
    f.key(Qt::Key_Escape);
    EXPECT_FALSE(f.picker->isOpen());
    f.picker->setOpen(true);
    EXPECT_TRUE(f.picker->query().isEmpty());
    EXPECT_TRUE(f.filter()->text().isEmpty());
    f.key(Qt::Key_Return);
    EXPECT_FALSE(f.picker->isOpen());
    EXPECT_EQ(f.picker->model(), "claude-sonnet-5");
    EXPECT_EQ(f.picker->recent(), (std::vector<std::string>{"claude-sonnet-5", "my-own-model", "claude-opus-4-1"}));

    // A typed ID of 500 characters is taken trimmed and shown elided; the tooltip holds it whole.
    const std::string longID(500, 'x');
    std::vector<QString> chosen;
    QObject::connect(f.picker.get(), &ModelPicker::modelChanged, [&](const QString& id) { chosen.push_back(id); });
    f.picker->setOpen(true);
    QTest::keyClicks(f.filter(), QString::fromStdString("  " + longID + " "));
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Return);
    EXPECT_EQ(f.picker->model(), longID);
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0].toStdString(), longID);
    const auto* chooser = f.picker->findChild<QPushButton*>("modelChooser");
    EXPECT_LT(chooser->text().size(), 100);
    EXPECT_EQ(chooser->toolTip().toStdString(), longID);

    // A click on a row chooses it; choosing the second recent ID moves it to the front.
    f.picker->setOpen(true);
    QTest::mouseClick(f.row("modelRow-claude-sonnet-5"), Qt::LeftButton);
    EXPECT_EQ(f.picker->recent(), (std::vector<std::string>{"claude-sonnet-5", longID, "my-own-model"}));
    EXPECT_EQ(f.defaults.string("recentModels"), "claude-sonnet-5\n" + longID + "\nmy-own-model");
}

TEST(ModelPicker, TheLaterLoadWinsAndFailuresShowUntilTheNextSuccess) {
    Fixture f("custom-model");
    f.lists["claudeCode"] = {{"opus", std::nullopt}, {"sonnet", std::nullopt}};
    f.picker->show();
    // A switch of provider while the first load runs: the first result never shows.
    f.picker->setProvider("claudeCode");
    ASSERT_EQ(f.executor.pending(), 2u);
    EXPECT_EQ(f.asked, (std::vector<std::string>{"anthropic", "claudeCode"}));
    f.executor.run(1);
    ManualExecutor::deliver();
    f.executor.run(0);
    ManualExecutor::deliver();
    ASSERT_EQ(f.picker->models().size(), 2u);
    EXPECT_EQ(f.picker->models()[0].id, "opus");
    EXPECT_FALSE(f.picker->loading());

    // A failed load empties the list and shows its message below the row; the popover keeps the
    // current ID, without the "saved" tag since nothing is loaded.
    f.failures["claudeCode"] = "Could not list models (HTTP 401). Check the key or connection.";
    f.picker->reload();
    f.loaded();
    EXPECT_TRUE(f.picker->models().empty());
    const auto* error = f.picker->findChild<QLabel*>("modelError");
    EXPECT_FALSE(error->isHidden());
    EXPECT_EQ(error->text(), "Could not list models (HTTP 401). Check the key or connection.");
    f.picker->setOpen(true);
    EXPECT_EQ(f.rowIDs(), std::vector<std::string>{"custom-model"});
    EXPECT_FALSE(f.row("modelRow-custom-model")->findChild<QLabel*>("saved"));
    f.picker->setOpen(false);

    // With no ID at all the popover says it is loading, then that there are none.
    Fixture empty("");
    empty.lists["anthropic"] = {};
    empty.picker->show();
    empty.picker->setOpen(true);
    const auto emptyText = [&] { return empty.picker->popover()->findChild<QLabel*>("modelListEmpty")->text(); };
    EXPECT_EQ(emptyText(), "Loading models...");
    EXPECT_EQ(empty.picker->findChild<QPushButton*>("modelChooser")->text(), "Choose a model");
    empty.loaded();
    EXPECT_EQ(emptyText(), "No models");
    EXPECT_FALSE(empty.picker->findChild<QProgressBar*>("modelLoading")->isVisible());

    // The next success clears the message; a thousand models all get their rows.
    f.failures.clear();
    for (int i = 0; i < 1000; ++i) f.lists["claudeCode"].push_back({"claude-model-" + std::to_string(i), std::nullopt});
    f.picker->reload();
    EXPECT_TRUE(error->text().isEmpty());
    f.loaded();
    EXPECT_TRUE(error->isHidden());
    f.picker->setOpen(true);
    EXPECT_EQ(f.rowIDs().size(), 1003u);
    f.key(Qt::Key_Down);  // the current model is the last row
    EXPECT_EQ(f.picker->highlighted(), "custom-model");
    f.key(Qt::Key_Up);
    // The highlight, near the end of a thousand rows, is scrolled into view; the pointer moves it.
    ModelRow* highlighted = f.row("modelRow-claude-model-999");
    ASSERT_TRUE(highlighted && highlighted->isHighlighted());
    const QWidget* viewport = f.picker->popover()->findChild<QScrollArea*>()->viewport();
    const int top = highlighted->mapTo(viewport, QPoint(0, 0)).y();
    EXPECT_GE(top, 0);
    EXPECT_LE(top + highlighted->height(), viewport->height());
    QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
    QCoreApplication::sendEvent(f.row("modelRow-claude-model-998"), &enter);
    EXPECT_EQ(f.picker->highlighted(), "claude-model-998");
}

TEST(ModelPicker, TitlesShowTheMatchedCharactersInBold) {
    Fixture f;
    EXPECT_EQ(f.picker->highlightedTitle("Claude <Sonnet>"), "Claude &lt;Sonnet&gt;");
    f.picker->setQuery("c s");
    const QString title = f.picker->highlightedTitle("Claude <Sonnet>");
    EXPECT_TRUE(title.startsWith("<b>C</b>")) << title.toStdString();
    EXPECT_TRUE(title.contains("<b>S</b>")) << title.toStdString();
    EXPECT_TRUE(title.contains("&lt;")) << title.toStdString();
    f.picker->setQuery("qq");
    EXPECT_EQ(f.picker->highlightedTitle("Claude"), "Claude");
}

}  // namespace
}  // namespace brevalto
