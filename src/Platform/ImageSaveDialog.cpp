#include "Platform/ImageSaveDialog.h"

#include "Platform/ModalAbovePanel.h"

#include <QFileDialog>
#include <QLineEdit>

#include <array>

namespace brevalto {

namespace {

// The extensions a name of the type may end in; the first is the one a new name gets.
std::array<QLatin1StringView, 2> extensions(ImageFileType type) {
    switch (type) {
    case ImageFileType::png: return {QLatin1StringView("png"), {}};
    case ImageFileType::jpeg: return {QLatin1StringView("jpeg"), QLatin1StringView("jpg")};
    case ImageFileType::gif: return {QLatin1StringView("gif"), {}};
    }
    return {QLatin1StringView("png"), {}};
}

class ImageSaveFileDialog final : public QFileDialog {
public:
    ImageSaveFileDialog(ImageFileType type, QWidget* parent) : QFileDialog(parent), type_(type) {}

    void accept() override {
        // The typed name as it will be written, before the dialog looks for a file of that name.
        // (Qt's own widgets: the dialog is never the desktop's.)
        if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); name && !name->text().isEmpty())
            name->setText(withImageFileExtension(name->text(), type_));
        QFileDialog::accept();
    }

private:
    ImageFileType type_;
};

}  // namespace

QString imageFileExtension(ImageFileType type) { return extensions(type)[0]; }

QString imageFileFilter(ImageFileType type) {
    switch (type) {
    case ImageFileType::png: return QStringLiteral("PNG image (*.png)");
    case ImageFileType::jpeg: return QStringLiteral("JPEG image (*.jpeg *.jpg)");
    case ImageFileType::gif: return QStringLiteral("GIF image (*.gif)");
    }
    return {};
}

QString withImageFileExtension(const QString& path, ImageFileType type) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot > slash + 1) {
        const QStringView extension = QStringView(path).mid(dot + 1);
        for (const QLatin1StringView allowed : extensions(type))
            if (!allowed.isEmpty() && extension.compare(allowed, Qt::CaseInsensitive) == 0) return path;
    }
    // A name that ends in its dot gets the extension after that dot, not after a second one.
    const bool endsInDot = path.endsWith(QLatin1Char('.')) && dot > slash + 1;
    return path + (endsInDot ? QString() : QStringLiteral(".")) + imageFileExtension(type);
}

std::optional<QString> askImageSavePath(ImageFileType type, const QString& folder, const QString& proposedName,
                                        QWidget* parent, const QString& title) {
    ImageSaveFileDialog dialog(type, parent);
    if (!title.isEmpty()) dialog.setWindowTitle(title);  // else Qt's own "Save As"
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(imageFileFilter(type));
    dialog.setDefaultSuffix(imageFileExtension(type));
    dialog.setDirectory(folder);
    dialog.selectFile(proposedName);
    if (runModalAbovePanel(dialog) != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.constFirst().isEmpty()) return std::nullopt;
    return withImageFileExtension(files.constFirst(), type);
}

}  // namespace brevalto
