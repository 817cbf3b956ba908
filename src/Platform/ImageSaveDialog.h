#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace brevalto {

// The image types the app writes to files the user chooses.
enum class ImageFileType { png, jpeg, gif };

// The extension a new file of the type gets: "png", "jpeg", "gif".
QString imageFileExtension(ImageFileType type);
// The dialog's filter line, such as "PNG image (*.png)".
QString imageFileFilter(ImageFileType type);

// The path when its name already ends in an extension of the type ("png"; "jpeg" or "jpg";
// "gif"; in any case), else the path with "." and the type's extension appended: "trial.jpg" for a
// PNG becomes "trial.jpg.png", "trial" becomes "trial.png". So a file's name never says one image
// type while it holds another.
QString withImageFileExtension(const QString& path, ImageFileType type);

// A save dialog that allows only files of the type, may create folders, starts in the folder and
// proposes the name; modal above our floating windows. A name the user types gets the type's
// extension before the dialog asks whether to replace an existing file, so that question is about
// the file that will be written. Titled "Save As" unless a title is given. The chosen path, or
// none when the user cancels.
std::optional<QString> askImageSavePath(ImageFileType type, const QString& folder, const QString& proposedName,
                                        QWidget* parent = nullptr, const QString& title = {});

}  // namespace brevalto
