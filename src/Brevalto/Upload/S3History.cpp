#include "Upload/S3History.h"

#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"
#include "Upload/S3Failure.h"

#include <set>

namespace brevalto {

namespace {

// The folder of the history; the file must be named by an absolute path.
std::filesystem::path folderOf(const std::filesystem::path& file) {
    if (!file.is_absolute() || !file.has_filename()) throw S3Failure::storage();
    return file.parent_path();
}

}  // namespace

void S3History::validate(const std::vector<S3OwnedObject>& objects, bool allowLoopbackHTTP) {
    if (objects.size() > maxObjects) throw S3Failure::storage();
    std::set<Uuid> ids;
    for (const S3OwnedObject& object : objects)
        if (!ids.insert(object.id).second) throw S3Failure::storage();
    for (const S3OwnedObject& object : objects) {
        object.validate();
        object.settings.validate(allowLoopbackHTTP);
    }
}

std::vector<S3OwnedObject> S3History::load(const std::filesystem::path& file, bool allowLoopbackHTTP) {
    const std::filesystem::path folder = folderOf(file);
    if (AtomicFile::status(folder).kind == FileKind::symlink) throw S3Failure::storage();
    const FileStatus status = AtomicFile::status(file);
    if (status.kind == FileKind::missing) return {};
    if (status.kind != FileKind::regular || status.size > maxFileSize) throw S3Failure::storage();

    const json::Json archive = json::parse(AtomicFile::read(file, maxFileSize, true));
    const json::Json& object = json::requireObject(archive, "upload history");
    if (json::requireInt64(object, "version") != 1) throw S3Failure::storage();
    const auto list = object.find("objects");
    if (list == object.end()) throw DecodingError("objects");
    std::vector<S3OwnedObject> objects;
    for (const json::Json& item : json::requireArray(*list, "objects")) objects.push_back(S3OwnedObject::fromJson(item));
    validate(objects, allowLoopbackHTTP);
    return objects;
}

void S3History::save(const std::vector<S3OwnedObject>& objects, const std::filesystem::path& file,
                     bool allowLoopbackHTTP) {
    validate(objects, allowLoopbackHTTP);
    const std::filesystem::path folder = folderOf(file);
    if (AtomicFile::status(folder).kind == FileKind::symlink) throw S3Failure::storage();
    AtomicFile::createFolder(folder, true);
    if (AtomicFile::status(file).kind == FileKind::symlink) throw S3Failure::storage();

    json::Json archive = json::Json::object();
    archive["version"] = 1;
    archive["objects"] = json::Json::array();
    for (const S3OwnedObject& object : objects) archive["objects"].push_back(object.toJson());
    const std::string bytes = archive.dump();
    if (bytes.size() > maxFileSize) throw S3Failure::storage();
    AtomicFile::write(file, bytes, AtomicWriteOptions{.refuseSymlinks = true, .createFolder = false});
}

std::string S3History::lifecycleDaysKey(const S3Settings& settings) {
    return "upload.lifecycleDays." + settings.identity();
}

bool S3History::survivesAutoDelete(const S3OwnedObject& record, Date now, const Defaults& defaults) {
    const std::int64_t days = defaults.integer(lifecycleDaysKey(record.settings));
    if (days == 0) return true;
    return now + 3600 < record.createdAt + static_cast<double>(days) * 86400;
}

bool S3History::isLiveUpload(const S3OwnedObject& record, const Uuid& clipID, Date now, const S3Settings& active,
                             const Defaults& defaults) {
    return record.clipID == clipID && record.state == S3OwnedObject::State::uploaded && record.settings == active &&
           survivesAutoDelete(record, now, defaults);
}

}  // namespace brevalto
