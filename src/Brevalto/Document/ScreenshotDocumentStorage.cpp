// Document folders: "document.json" and "assets" with one PNG per asset, inside the documents
// root. Folders are 0700, files 0600 and written atomically, and no element may be a symbolic
// link. Nothing is cached between calls.
#include "Document/DocumentValidation.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotOutput.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageDecoding.h"
#include "Platform/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t largestIndex = 16'777'216;
constexpr std::uint64_t largestAsset = 67'108'864;
constexpr std::uint64_t assetsBudgetBytes = 536'870'912;
constexpr std::size_t assetsBudgetEntries = 512;
constexpr const char* indexName = "document.json";
constexpr const char* assetsName = "assets";

[[noreturn]] void systemFailure(const std::string& what, const fs::path& path, int error) {
    throw FileError(what + " " + path.string() + ": " + std::strerror(error));
}


fs::path resolved(const fs::path& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) systemFailure("Could not resolve", path, errno);
    return fs::path(real.get());
}

void makePrivate(const fs::path& path) {
    if (::chmod(path.c_str(), 0600) != 0) systemFailure("Could not set the permissions of", path, errno);
}

// Entries of the assets folder (hidden ones included) and the sum of their sizes.
std::pair<std::size_t, std::uint64_t> assetsUsage(const fs::path& assets) {
    struct Close {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    std::unique_ptr<DIR, Close> dir(::opendir(assets.c_str()));
    if (!dir) systemFailure("Could not list", assets, errno);
    std::size_t entries = 0;
    std::uint64_t bytes = 0;
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            systemFailure("Could not read the size of", assets / entry->d_name, errno);
        ++entries;
        if (S_ISREG(st.st_mode) && st.st_size > 0) bytes += static_cast<std::uint64_t>(st.st_size);
        errno = 0;
    }
    if (errno != 0) systemFailure("Could not list", assets, errno);
    return {entries, bytes};
}

ScreenshotDocument::Asset storeAssetAs(const QImage& image, const fs::path& folder, const Uuid& id) {
    validateImageSize(image.width(), image.height());
    const QByteArray data =
        ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, QColor(Qt::white), false, 1, 0.9);
    if (static_cast<std::uint64_t>(data.size()) > largestAsset) throw ScreenshotError("Asset exceeds 64 MiB.");

    const fs::path assets = folder / assetsName;
    const auto [entries, bytes] = assetsUsage(assets);
    if (entries >= assetsBudgetEntries || bytes + static_cast<std::uint64_t>(data.size()) > assetsBudgetBytes)
        throw ScreenshotError("The document reached its 512 MiB or 512-asset budget. Create a new document.");

    ScreenshotDocument::Asset asset{id, id.string() + ".png", image.width(), image.height()};
    const fs::path file = assets / asset.filename;
    AtomicFile::write(file, data, AtomicWriteOptions{.refuseSymlinks = true, .createFolder = false});
    makePrivate(file);
    return asset;
}

// The first document of a history item: one image layer showing the whole source image.
ScreenshotDocument firstDocument(const Uuid& historyID, const ScreenshotDocument::Asset& asset, double scale) {
    ScreenshotDocument document;
    document.version = 2;
    document.historyID = historyID;
    document.sourceAssetID = asset.id;
    document.sourceScale = scale;
    document.canvas = QSizeF(static_cast<double>(asset.width), static_cast<double>(asset.height));
    document.assets = {asset};
    ScreenshotLayer layer;
    layer.kind = ScreenshotLayerKind::image;
    layer.frame = QRectF(0, 0, static_cast<double>(asset.width), static_cast<double>(asset.height));
    layer.assetID = asset.id;
    layer.value = 2;
    document.layers = {layer};
    return document;
}

}  // namespace

fs::path screenshotDocumentsRoot(const fs::path& clipStoreFolder) { return clipStoreFolder / "ScreenshotDocuments"; }

fs::path ScreenshotDocument::folder(const fs::path& root, const Uuid& id) {
    if (root.empty() || !root.is_absolute()) throw ScreenshotError("Document root must be a local folder.");
    const fs::path folder = root / id.string();
    if (AtomicFile::isSymlink(folder)) throw ScreenshotError("The document folder cannot be a symlink.");
    AtomicFile::createFolder(folder, true);
    const fs::path assets = folder / assetsName;
    if (AtomicFile::isSymlink(assets)) throw ScreenshotError("The assets folder cannot be a symlink.");
    AtomicFile::createFolder(assets, true);
    return folder;
}

fs::path ScreenshotDocument::assetURL(const Asset& asset, const fs::path& folder) {
    if (asset.filename != asset.id.string() + ".png") throw ScreenshotError("Unsafe asset path.");
    const fs::path assets = resolved(folder / assetsName);
    const fs::path candidate = assets / asset.filename;
    const FileStatus status = AtomicFile::status(candidate);
    if (status.kind == FileKind::missing) systemFailure("Could not read the properties of", candidate, ENOENT);
    if (status.kind != FileKind::regular || resolved(candidate).parent_path() != assets)
        throw ScreenshotError("Asset is not a safe file.");
    return candidate;
}

ScreenshotDocument::Asset ScreenshotDocument::storeAsset(const QImage& image, const fs::path& folder) {
    return storeAssetAs(image, folder, Uuid::random());
}

void ScreenshotDocument::save(const ScreenshotDocument& document, const fs::path& folder) {
    validateDocument(document);
    for (const Asset& asset : document.assets) assetURL(asset, folder);
    const fs::path index = folder / indexName;
    if (AtomicFile::isSymlink(index)) throw ScreenshotError("The document index cannot be a symlink.");
    // An index that loading would refuse is never written: it would replace the readable one.
    const std::string bytes = document.encode();
    if (bytes.size() > largestIndex) throw ScreenshotError("The document index is unsafe or too large.");
    AtomicFile::write(index, bytes, AtomicWriteOptions{.refuseSymlinks = true, .createFolder = false});
    makePrivate(index);
}

ScreenshotDocument::Loaded ScreenshotDocument::load(const fs::path& root, const Uuid& historyID,
                                                    const std::optional<fs::path>& source, double scale) {
    const fs::path documentFolder = folder(root, historyID);
    const fs::path index = documentFolder / indexName;

    const FileStatus status = AtomicFile::status(index);
    if (status.kind == FileKind::missing) {
        if (!source) throw ScreenshotError("Saved document or source image is missing.");
        const QImage image = loadScreenshotImage(*source);
        const Uuid assetID = Uuid::random();
        // The document is checked before its asset is stored, so a refused first save (a scale
        // out of range, say) leaves nothing behind to fill the folder's budget.
        ScreenshotDocument document =
            firstDocument(historyID, Asset{assetID, assetID.string() + ".png", image.width(), image.height()}, scale);
        validateDocument(document);
        storeAssetAs(image, documentFolder, assetID);
        save(document, documentFolder);
        return {std::move(document), documentFolder};
    }

    if (status.kind != FileKind::regular || status.size > largestIndex)
        throw ScreenshotError("The document index is unsafe or too large.");
    ScreenshotDocument document = decode(AtomicFile::read(index, largestIndex, true));
    if (document.historyID != historyID)
        throw ScreenshotError("The document does not belong to this history item.");
    for (const Asset& asset : document.assets) {
        const QImage image = loadScreenshotImage(assetURL(asset, documentFolder));
        if (image.width() != asset.width || image.height() != asset.height)
            throw ScreenshotError("Asset size does not match the document.");
    }
    return {std::move(document), documentFolder};
}

}  // namespace brevalto
