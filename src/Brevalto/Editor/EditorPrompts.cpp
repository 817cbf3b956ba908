#include "Editor/EditorPrompts.h"

#include "Platform/AppPaths.h"
#include "Platform/ModalAbovePanel.h"

#include <QFileDialog>
#include <QImageReader>
#include <QMessageBox>
#include <QStringList>

namespace brevalto {

void DialogEditorPrompts::showError(const QString& message) {
    QMessageBox alert(QMessageBox::Warning, QString(), message, QMessageBox::Ok, parent_);
    runModalAbovePanel(alert);
}

std::vector<QUrl> DialogEditorPrompts::chooseImageFiles() {
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    QFileDialog dialog(parent_);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(QStringLiteral("Images (%1)").arg(patterns.join(QLatin1Char(' '))));
    dialog.setDirectory(QString::fromStdString(AppPaths::picturesFolder().string()));
    if (runModalAbovePanel(dialog) != QDialog::Accepted) return {};
    const QList<QUrl> chosen = dialog.selectedUrls();
    return std::vector<QUrl>(chosen.begin(), chosen.end());
}

}  // namespace brevalto
