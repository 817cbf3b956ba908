#include "Automation/AutomationAlertPrompt.h"

#include "Automation/AutomationRequest.h"
#include "Platform/ModalAbovePanel.h"

#include <QMessageBox>
#include <QPushButton>
#include <QWindow>

namespace brevalto {

namespace {

QString word(std::string_view raw) { return QString::fromLatin1(raw.data(), static_cast<qsizetype>(raw.size())); }

}  // namespace

AutomationAlertPrompt::AutomationAlertPrompt(QWidget* aboveWindow) : aboveWindow_(aboveWindow) {}

QString AutomationAlertPrompt::messageText() { return QStringLiteral("Allow this automation request?"); }

QString AutomationAlertPrompt::informativeText(const AutomationRequest& request) {
    QStringList after;
    for (const auto action : request.postActions) after << word(rawValue(action));
    return QStringLiteral("Action: ") + word(rawValue(request.command)) + QStringLiteral("\nMode: ") +
           word(rawValue(request.mode)) + QStringLiteral("\nDelay: ") + QString::number(request.delaySeconds) +
           QStringLiteral(" s\nAfter success: ") +
           (after.isEmpty() ? QStringLiteral("current preference") : after.join(QStringLiteral(", "))) +
           QStringLiteral(
               "\n\nIt may capture the screen, read the clipboard, or copy/save images. It does not upload, send "
               "to AI, run shell commands or delete data.");
}

bool AutomationAlertPrompt::confirm(const AutomationRequest& request) {
    // A top-level box, not a child of the panel, so that the panel's own look does not cascade
    // into it. It stays on top and is raised once shown (runModalAbovePanel); being transient for
    // the panel's window, the window manager also keeps it above the panel.
    QMessageBox box;
    box.setObjectName(QStringLiteral("automationPrompt"));
    box.setWindowTitle(QStringLiteral("Brevalto"));
    box.setIcon(QMessageBox::Question);
    box.setTextFormat(Qt::PlainText);
    box.setText(messageText());
    box.setInformativeText(informativeText(request));
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("automationPromptCancel"));
    QPushButton* allow = box.addButton(QStringLiteral("Allow once"), QMessageBox::AcceptRole);
    allow->setObjectName(QStringLiteral("automationPromptAllow"));
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.setWindowModality(Qt::ApplicationModal);
    if (aboveWindow_) {
        if (QWindow* panel = aboveWindow_->window()->windowHandle()) {
            box.winId();  // creates the box's window so that it can take a transient parent
            box.windowHandle()->setTransientParent(panel);
        }
    }
    runModalAbovePanel(box);
    return box.clickedButton() == allow;
}

}  // namespace brevalto
