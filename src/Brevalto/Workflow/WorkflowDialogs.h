#pragma once

#include <QString>

#include <filesystem>
#include <optional>

namespace brevalto {

// The modal panels and the alert the screenshot workflow and its settings page run: Qt's file
// dialogs and a message box by default, above our floating windows; tests answer from a script.
class WorkflowDialogs {
public:
    virtual ~WorkflowDialogs() = default;
    // A save dialog limited to PNG files that starts in the folder and proposes the name; the
    // chosen name ends in ".png" (given it when it does not), none when cancelled.
    virtual std::optional<std::filesystem::path> chooseSaveFile(const QString& proposedName,
                                                                const std::filesystem::path& folder) = 0;
    // An open dialog for one image file; none when cancelled.
    virtual std::optional<std::filesystem::path> chooseImageFile() = 0;
    // An open dialog for one folder (no files); none when cancelled.
    virtual std::optional<std::filesystem::path> chooseFolder() = 0;
    // A modal alert with the message, the informative text and one "OK" button.
    virtual void alert(const QString& message, const QString& informative) = 0;

    // QFileDialog and QMessageBox.
    static WorkflowDialogs& system();
};

}  // namespace brevalto
