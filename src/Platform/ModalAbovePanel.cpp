#include "Platform/ModalAbovePanel.h"

#include <QMessageBox>
#include <QTimer>

namespace brevalto {

int runModalAbovePanel(QMessageBox& alert) {
    alert.setWindowFlag(Qt::WindowStaysOnTopHint);
    // Queued: it runs once the modal loop spins and the alert is on screen, after the panel.
    QTimer::singleShot(0, &alert, [&alert] {
        alert.raise();
        alert.activateWindow();
    });
    return alert.exec();
}

}  // namespace brevalto
