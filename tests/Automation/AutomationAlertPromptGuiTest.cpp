#include "Automation/AutomationAlertPrompt.h"
#include "Automation/AutomationRequest.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

namespace brevalto {
namespace {

// Runs `act` on the prompt's message box once it is up; gives up (closing it) after a while so a
// missing box fails the test instead of hanging it.
void whenPromptShows(const std::function<void(QMessageBox&)>& act) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            poll->stop();
            poll->deleteLater();
            act(*box);
            return;
        }
        if (++*tries > 200) {
            poll->stop();
            poll->deleteLater();
            ADD_FAILURE() << "the prompt did not show";
            for (auto* w : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(w)) b->reject();
        }
    });
    poll->start(10);
}

TEST(AutomationAlertPrompt, InformativeTextListsTheRequest) {
    EXPECT_EQ(AutomationAlertPrompt::informativeText(AutomationRequest::fromUrl("brevalto://clipboard?after=save")),
              QStringLiteral("Action: clipboard\nMode: region\nDelay: 0 s\nAfter success: save\n\nIt may capture the "
                             "screen, read the clipboard, or copy/save images. It does not upload, send to AI, run "
                             "shell commands or delete data."));
    EXPECT_TRUE(AutomationAlertPrompt::informativeText(
                    AutomationRequest::fromUrl("brevalto://append?mode=delay&delay=12&after=copy,pin"))
                    .startsWith(QStringLiteral("Action: append\nMode: delay\nDelay: 12 s\nAfter success: copy, pin\n\n")));
    EXPECT_TRUE(AutomationAlertPrompt::informativeText(AutomationRequest::fromUrl("brevalto://history"))
                    .contains(QStringLiteral("\nAfter success: current preference\n\n")));
}

TEST(AutomationAlertPrompt, ShowsTheTextsAndButtonsAboveTheGivenWindow) {
    QWidget panel;
    panel.resize(200, 40);
    panel.show();
    AutomationAlertPrompt prompt(&panel);
    const auto request = AutomationRequest::fromUrl("brevalto://capture?mode=window&after=copy");

    bool inspected = false;
    whenPromptShows([&](QMessageBox& box) {
        inspected = true;
        EXPECT_EQ(box.text(), QStringLiteral("Allow this automation request?"));
        EXPECT_EQ(box.informativeText(),
                  QStringLiteral("Action: capture\nMode: window\nDelay: 0 s\nAfter success: copy\n\nIt may capture "
                                 "the screen, read the clipboard, or copy/save images. It does not upload, send to "
                                 "AI, run shell commands or delete data."));
        ASSERT_TRUE(box.windowHandle());
        EXPECT_EQ(box.windowHandle()->transientParent(), panel.windowHandle());
        EXPECT_TRUE(box.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_EQ(box.buttons().size(), 2);
        auto* cancel = box.findChild<QPushButton*>(QStringLiteral("automationPromptCancel"));
        auto* allow = box.findChild<QPushButton*>(QStringLiteral("automationPromptAllow"));
        ASSERT_TRUE(cancel && allow);
        EXPECT_EQ(cancel->text(), QStringLiteral("Cancel"));
        EXPECT_EQ(allow->text(), QStringLiteral("Allow once"));
        // Return and Escape both decline.
        EXPECT_EQ(box.defaultButton(), cancel);
        EXPECT_EQ(box.escapeButton(), cancel);
        allow->click();
    });
    EXPECT_TRUE(prompt.confirm(request));
    EXPECT_TRUE(inspected);
}

TEST(AutomationAlertPrompt, EveryOtherWayOutDeclines) {
    AutomationAlertPrompt prompt;
    const auto request = AutomationRequest::fromUrl("brevalto://capture");
    const std::function<void(QMessageBox&)> ways[] = {
        [](QMessageBox& box) { box.findChild<QPushButton*>(QStringLiteral("automationPromptCancel"))->click(); },
        [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); },
        [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); },
        [](QMessageBox& box) { box.close(); },
    };
    for (const auto& way : ways) {
        whenPromptShows(way);
        EXPECT_FALSE(prompt.confirm(request));
    }
}

}  // namespace
}  // namespace brevalto
