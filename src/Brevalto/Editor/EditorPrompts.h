#pragma once

#include <QString>
#include <QUrl>

#include <vector>

class QWidget;

namespace brevalto {

// The modal questions and alerts of the screenshot editor: an alert that reports an error, and
// the open panel of the image import. The app asks with message boxes and file dialogs; tests
// answer from a script.
class EditorPrompts {
public:
    virtual ~EditorPrompts() = default;
    // Shows the message in a modal alert and returns when it is dismissed.
    virtual void showError(const QString& message) = 0;
    // Asks for image files (several at once, no folders); empty when the user cancels.
    virtual std::vector<QUrl> chooseImageFiles() = 0;
};

// Asks with a QMessageBox raised above the notch panel and a QFileDialog for image files.
class DialogEditorPrompts final : public EditorPrompts {
public:
    explicit DialogEditorPrompts(QWidget* parent = nullptr) : parent_(parent) {}
    void showError(const QString& message) override;
    std::vector<QUrl> chooseImageFiles() override;

private:
    QWidget* parent_;
};

}  // namespace brevalto
