#include "Workflow/WorkflowDialogs.h"

#include "Platform/ModalAbovePanel.h"

#include <QFileDialog>
#include <QImageReader>
#include <QMessageBox>

namespace brevalto {

namespace {

std::optional<std::filesystem::path> chosen(const QString& path) {
    if (path.isEmpty()) return std::nullopt;
    return std::filesystem::path(path.toStdString());
}

class QtWorkflowDialogs final : public WorkflowDialogs {
public:
    std::optional<std::filesystem::path> chooseSaveFile(const QString& proposedName) override {
        QFileDialog dialog(nullptr, QString(), proposedName, QStringLiteral("PNG image (*.png)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("png"));
        dialog.selectFile(proposedName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return chosen(dialog.selectedFiles().front());
    }

    std::optional<std::filesystem::path> chooseImageFile() override {
        QStringList patterns;
        for (const QByteArray& suffix : QImageReader::supportedImageFormats())
            patterns << QStringLiteral("*.") + QString::fromLatin1(suffix);
        return chosen(QFileDialog::getOpenFileName(nullptr, QString(), QString(),
                                                   QStringLiteral("Images (%1)").arg(patterns.join(u' '))));
    }

    std::optional<std::filesystem::path> chooseFolder() override {
        return chosen(QFileDialog::getExistingDirectory(nullptr));
    }

    void alert(const QString& message, const QString& informative) override {
        QMessageBox box;
        box.setWindowTitle(QStringLiteral("Brevalto"));
        box.setIcon(QMessageBox::Warning);
        box.setTextFormat(Qt::PlainText);
        box.setText(message);
        box.setInformativeText(informative);
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        runModalAbovePanel(box);
    }
};

}  // namespace

WorkflowDialogs& WorkflowDialogs::system() {
    static QtWorkflowDialogs dialogs;
    return dialogs;
}

}  // namespace brevalto
