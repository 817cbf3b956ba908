#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QMimeData;

namespace brevalto {

// A finished PNG offered to drop targets: its bytes directly, and the URL of a file holding them
// that is created in `folder` only when a target asks for it. Shared between the drag data, which
// may be asked after the drag ended, and whoever started the drag.
class ScreenshotFilePromise {
public:
    static inline const QString pngMimeType = QStringLiteral("image/png");
    static inline const QString uriListMimeType = QStringLiteral("text/uri-list");

    // `filename` is the offered name with its extension; `source`, when given, is an existing file
    // with the same content, hard-linked instead of written where the folder's volume allows.
    ScreenshotFilePromise(QByteArray data, QString filename, std::filesystem::path folder,
                          std::optional<std::filesystem::path> source = std::nullopt);

    const QByteArray& data() const { return data_; }
    const QString& filename() const { return filename_; }
    const std::filesystem::path& folder() const { return folder_; }

    // The file, created on the first call and the same on every later one. The folder is created
    // (0700) when missing; the file (0600) gets the offered name, or when that is taken the name
    // with "-2" ... "-64" before ".png", and never replaces anything. Throws FileError, then
    // again on the next call. Safe on any thread.
    std::filesystem::path file();
    // The file once created.
    std::optional<std::filesystem::path> createdFile() const;

    // Drag data offering "image/png" and "text/uri-list"; the file is created when a target first
    // asks for the URL list, and the list is empty when it cannot be. The caller owns the data.
    static QMimeData* mimeData(std::shared_ptr<ScreenshotFilePromise> promise);
    // The same for several promises: "image/png" holds the first one's bytes, the URL list every
    // file that could be created. Data set on it with setText and the like is offered too.
    static QMimeData* mimeData(std::vector<std::shared_ptr<ScreenshotFilePromise>> promises);

private:
    const QByteArray data_;
    const QString filename_;
    const std::filesystem::path folder_;
    const std::optional<std::filesystem::path> source_;
    mutable std::mutex mutex_;
    std::optional<std::filesystem::path> file_;
};

}  // namespace brevalto
