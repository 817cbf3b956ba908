#include "Document/ScreenshotFilePromise.h"

#include "ClipCore/Uuid.h"
#include "Platform/AtomicFile.h"

#include <QMimeData>
#include <QUrl>

#include <cerrno>
#include <cstring>

namespace brevalto {

namespace fs = std::filesystem;

ScreenshotFilePromise::ScreenshotFilePromise(QByteArray data, QString filename, fs::path folder,
                                             std::optional<fs::path> source)
    : data_(std::move(data)), filename_(std::move(filename)), folder_(std::move(folder)), source_(std::move(source)) {}

std::optional<fs::path> ScreenshotFilePromise::createdFile() const {
    std::lock_guard lock(mutex_);
    return file_;
}

fs::path ScreenshotFilePromise::file() {
    std::lock_guard lock(mutex_);
    if (file_) return *file_;
    AtomicFile::createFolder(folder_);
    StagedFile staged(folder_, ".brevalto-" + Uuid::random().string() + ".tmp",
                      std::string_view(data_.constData(), static_cast<std::size_t>(data_.size())));
    const std::string name = filename_.toStdString();
    const std::string base = fs::path(name).stem().string();
    for (int n = 1; n <= 64; ++n) {
        const std::string candidate = n == 1 ? name : base + "-" + std::to_string(n) + ".png";
        bool found = false;
        if (!staged.exists(candidate)) {
            found = (source_ && staged.link(*source_, candidate)) || staged.place(candidate);
        } else {
            // Linked here by an earlier drag of the same file.
            found = source_ && staged.isSameFile(*source_, candidate);
        }
        if (found) {
            file_ = folder_ / candidate;
            return *file_;
        }
    }
    throw FileError("Could not create a file in " + folder_.string() + ": " + std::strerror(EEXIST));
}

namespace {

class PromiseMimeData final : public QMimeData {
public:
    explicit PromiseMimeData(std::vector<std::shared_ptr<ScreenshotFilePromise>> promises)
        : promises_(std::move(promises)) {}

    QStringList formats() const override {
        QStringList list = QMimeData::formats();
        if (!promises_.empty()) list << ScreenshotFilePromise::pngMimeType << ScreenshotFilePromise::uriListMimeType;
        return list;
    }
    bool hasFormat(const QString& mimeType) const override { return formats().contains(mimeType); }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        if (promises_.empty()) return QMimeData::retrieveData(mimeType, type);
        if (mimeType == ScreenshotFilePromise::pngMimeType) return promises_.front()->data();
        if (mimeType == ScreenshotFilePromise::uriListMimeType) {
            QByteArray list;
            for (const auto& promise : promises_) {
                try {
                    const fs::path file = promise->file();
                    list += QUrl::fromLocalFile(QString::fromStdString(file.string())).toEncoded() + "\r\n";
                } catch (const FileError&) {
                    // the first image's bytes still travel as image/png
                }
            }
            return list;
        }
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    std::vector<std::shared_ptr<ScreenshotFilePromise>> promises_;
};

}  // namespace

QMimeData* ScreenshotFilePromise::mimeData(std::shared_ptr<ScreenshotFilePromise> promise) {
    return new PromiseMimeData({std::move(promise)});
}

QMimeData* ScreenshotFilePromise::mimeData(std::vector<std::shared_ptr<ScreenshotFilePromise>> promises) {
    return new PromiseMimeData(std::move(promises));
}

}  // namespace brevalto
