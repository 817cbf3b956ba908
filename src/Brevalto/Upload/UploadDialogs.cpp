#include "Upload/UploadDialogs.h"

#include "Platform/ModalAbovePanel.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace brevalto {

namespace {

void dress(QMessageBox& box, const QString& message, const QString& informative) {
    box.setWindowTitle(QStringLiteral("Brevalto"));
    box.setIcon(QMessageBox::Warning);
    box.setTextFormat(Qt::PlainText);
    box.setText(message);
    box.setInformativeText(informative);
}

class QtUploadDialogs final : public UploadDialogs {
public:
    bool confirmRemoveKeys() override {
        QMessageBox box;
        dress(box, QStringLiteral("Remove S3 keys for this destination?"),
              QStringLiteral("Server objects will not be deleted. Other destinations keep their own keys."));
        box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        QPushButton* remove = box.addButton(QStringLiteral("Remove keys"), QMessageBox::DestructiveRole);
        runModalAbovePanel(box);
        return box.clickedButton() == remove;
    }

    std::optional<QString> confirmDelete(const QString& bucket, const QString& key) override {
        QMessageBox box;
        dress(box, QStringLiteral("Delete this exact object?"),
              QStringLiteral("Bucket: %1\nKey: %2\n\nEnter the complete key to confirm. Bucket versioning or lifecycle "
                             "rules may retain older versions. Bucket policy will not change.")
                  .arg(bucket, key));
        auto* field = new QLineEdit(&box);
        field->setObjectName(QStringLiteral("exactObjectKey"));
        field->setPlaceholderText(QStringLiteral("Exact object key"));
        field->setFixedSize(500, 26);
        // The field goes above the buttons.
        auto* grid = qobject_cast<QGridLayout*>(box.layout());
        auto* buttons = box.findChild<QDialogButtonBox*>();
        if (grid && buttons && grid->indexOf(buttons) >= 0) {
            int row = 0, column = 0, rows = 0, columns = 0;
            grid->getItemPosition(grid->indexOf(buttons), &row, &column, &rows, &columns);
            grid->removeWidget(buttons);
            grid->addWidget(field, row, 0, 1, grid->columnCount());
            grid->addWidget(buttons, row + 1, column, rows, columns);
        } else if (grid) {
            grid->addWidget(field, grid->rowCount(), 0, 1, grid->columnCount());
        }
        box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        QPushButton* remove = box.addButton(QStringLiteral("Delete object"), QMessageBox::DestructiveRole);
        runModalAbovePanel(box);
        if (box.clickedButton() != remove) return std::nullopt;
        return field->text();
    }

    bool confirmPublicUpload(bool& dontAskAgain) override {
        QMessageBox box;
        dress(box, QStringLiteral("Upload to a public bucket?"),
              QStringLiteral("Anyone with the link can open this image. Check that secrets are redacted first."));
        QPushButton* upload = box.addButton(QStringLiteral("Upload"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        auto* suppress = new QCheckBox(QStringLiteral("Don't ask again"), &box);
        box.setCheckBox(suppress);
        runModalAbovePanel(box);
        dontAskAgain = suppress->isChecked();
        return box.clickedButton() == upload;
    }
};

}  // namespace

UploadDialogs& UploadDialogs::system() {
    static QtUploadDialogs dialogs;
    return dialogs;
}

}  // namespace brevalto
