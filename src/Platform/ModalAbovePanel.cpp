#include "Platform/ModalAbovePanel.h"

#include <QDialog>
#include <QFileDialog>
#include <QTimer>

namespace brevalto {

int runModalAbovePanel(QDialog& alert) {
    alert.setWindowFlag(Qt::WindowStaysOnTopHint);
    // Queued: it runs once the modal loop spins and the alert is on screen, after the panel.
    QTimer::singleShot(0, &alert, [&alert] {
        alert.raise();
        alert.activateWindow();
    });
    return alert.exec();
}

int runModalAbovePanel(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    return runModalAbovePanel(static_cast<QDialog&>(dialog));
}

}  // namespace brevalto
