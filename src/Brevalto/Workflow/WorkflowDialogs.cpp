#include "Workflow/WorkflowDialogs.h"

#include "Platform/AppPaths.h"
#include "Platform/ImageSaveDialog.h"
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

std::optional<std::filesystem::path> answer(QFileDialog& dialog) {
    if (runModalAbovePanel(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return chosen(dialog.selectedFiles().constFirst());
}

class QtWorkflowDialogs final : public WorkflowDialogs {
public:
    std::optional<std::filesystem::path> chooseSaveFile(const QString& proposedName,
                                                        const std::filesystem::path& folder) override {
        const auto path = askImageSavePath(ImageFileType::png, QString::fromStdString(folder.string()), proposedName);
        return path ? chosen(*path) : std::nullopt;
    }

    std::optional<std::filesystem::path> chooseImageFile() override {
        QStringList patterns;
        for (const QByteArray& suffix : QImageReader::supportedImageFormats())
            patterns << QStringLiteral("*.") + QString::fromLatin1(suffix);
        QFileDialog dialog(nullptr, QString(), QString::fromStdString(AppPaths::picturesFolder().string()),
                           QStringLiteral("Images (%1)").arg(patterns.join(u' ')));
        dialog.setFileMode(QFileDialog::ExistingFile);
        return answer(dialog);
    }

    std::optional<std::filesystem::path> chooseFolder() override {
        QFileDialog dialog;
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        return answer(dialog);
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
