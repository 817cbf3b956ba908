#include "Panel/PanelAlerts.h"

#include "Platform/ModalAbovePanel.h"

#include <QMessageBox>
#include <QPushButton>

namespace brevalto {

bool MessageBoxPanelAlerts::confirmDestructive(const QString& title, const QString& destructiveTitle) {
    QMessageBox alert(parent_);
    alert.setIcon(QMessageBox::Warning);
    alert.setText(title);
    alert.setWindowTitle(title);
    QPushButton* cancel = alert.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    QPushButton* destroy = alert.addButton(destructiveTitle, QMessageBox::DestructiveRole);
    alert.setDefaultButton(cancel);
    alert.setEscapeButton(cancel);
    runModalAbovePanel(alert);
    return alert.clickedButton() == destroy;
}

}  // namespace brevalto
