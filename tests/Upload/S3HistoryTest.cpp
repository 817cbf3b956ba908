#include "Platform/Defaults.h"
#include "TestFolder.h"
#include "Upload/S3Failure.h"
#include "Upload/S3History.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <functional>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using Objects = std::vector<S3OwnedObject>;
const std::string storage = S3Failure::storage().what();

S3OwnedObject record(int n) {
    S3OwnedObject r{Uuid::random(), 757'000'000.0 + n, {}, "", sha256Hex(sha256(std::to_string(n))), {}, {}};
    r.settings.endpoint = "https://s3.example.com";
    r.settings.bucket = "photos";
    r.key = r.settings.objectKey(r.createdAt, r.id);
    return r;
}
std::string outcome(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "ok";
}
std::string text(const fs::path& path) { return std::string(std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {}); }
void write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }
std::string archive(const Objects& objects, int version = 1) {
    json::Json list = json::Json::array();
    for (const auto& o : objects) list.push_back(o.toJson());
    return json::Json{{"version", version}, {"objects", list}}.dump();
}
unsigned mode(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(S3History, SavesPrivatelyAndHoldsItsLimitsOnBothPaths) {
    TestFolder folder;
    const fs::path file = folder / "app/uploads.json";
    EXPECT_TRUE(S3History::load(file).empty());
    Objects objects;
    for (int i = 0; i < 2000; ++i) objects.push_back(record(i));
    objects[1].clipID = Uuid::random();
    S3History::save(objects, file);
    EXPECT_EQ(std::pair(mode(folder / "app"), mode(file)), std::pair(0700u, 0600u));
    EXPECT_EQ(S3History::load(file), objects);
    EXPECT_EQ(json::parse(text(file))["objects"][0].count("clipID"), 0u);
    objects.push_back(record(2000));
    EXPECT_EQ(outcome([&] { S3History::save(objects, file); }), storage);
    write(file, archive(objects));
    EXPECT_EQ(outcome([&] { S3History::load(file); }), storage);

    // Padding after the JSON makes the file exactly the size limit, then one byte more.
    const std::string one = archive({record(1)});
    write(file, one + std::string(S3History::maxFileSize - one.size(), ' '));
    ::chmod(file.c_str(), 0644);
    EXPECT_EQ(S3History::load(file).size(), 1u);
    S3History::save({}, file);
    EXPECT_EQ(mode(file), 0600u);
    write(file, one + std::string(S3History::maxFileSize - one.size() + 1, ' '));
    EXPECT_EQ(outcome([&] { S3History::load(file); }), storage);
}

TEST(S3History, BadRecordsSymlinksAndCorruptFilesFailAndChangeNothing) {
    TestFolder folder;
    const fs::path file = folder / "uploads.json";
    for (const auto& [change, expected] : std::vector<std::pair<std::function<void(Objects&)>, std::string>>{
             {[](auto& o) { o[1] = o[0]; }, storage},
             {[](auto& o) { o[0].sha256[3] = 'A'; }, storage},
             {[](auto& o) { o[0].sha256.pop_back(); }, storage},
             {[](auto& o) { o[0].createdAt += 86400; }, storage},
             {[](auto& o) { o[0].key = "other/" + o[0].key.substr(9); }, storage},
             {[](auto& o) { o[0].settings.region = ""; }, "Invalid region or prefix, or expiry outside 1-604800 seconds."}}) {
        Objects objects = {record(1), record(2)};
        change(objects);
        write(file, "previous");
        EXPECT_EQ(outcome([&] { S3History::save(objects, file); }), expected);
        EXPECT_EQ(text(file), "previous");
        write(file, archive(objects));
        EXPECT_EQ(outcome([&] { S3History::load(file); }), expected);
    }
    Objects endless = {record(1)};
    endless[0].createdAt = INFINITY;
    EXPECT_EQ(outcome([&] { S3History::save(endless, file); }), storage);
    write(file, archive({record(1)}, 2));
    EXPECT_EQ(outcome([&] { S3History::load(file); }), storage);
    write(file, archive({record(1)}).substr(0, 99));
    EXPECT_THROW(S3History::load(file), DecodingError);
    EXPECT_EQ(text(file).size(), 99u);

    // Neither a linked file nor a linked folder is ever read or written through.
    S3History::save({record(1)}, folder / "real/uploads.json");
    const std::string kept = text(folder / "real/uploads.json");
    fs::create_directory_symlink(folder / "real", folder / "linked");
    fs::create_symlink(folder / "real/uploads.json", folder / "link.json");
    for (const fs::path& linked : {folder / "linked/uploads.json", folder / "link.json"}) {
        EXPECT_EQ(outcome([&] { S3History::load(linked); }) + outcome([&] { S3History::save({}, linked); }), storage + storage);
    }
    EXPECT_EQ(text(folder / "real/uploads.json"), kept);
}

TEST(S3History, LiveUploadsAreThoseOfTheClipOnTheDestinationThatOutliveTheNextHour) {
    Defaults defaults;
    const Uuid clip = Uuid::random();
    S3OwnedObject r = record(0);
    r.clipID = clip;
    r.state = S3OwnedObject::State::uploaded;
    const double day = 86400, created = r.createdAt;
    S3Settings other = r.settings;
    other.prefix = "elsewhere";
    // (stored days, seconds after creation, clip, destination, state) -> live
    const std::vector<std::tuple<int, double, Uuid, S3Settings, S3OwnedObject::State, bool>> cases = {
        {0, 3650 * day, clip, r.settings, S3OwnedObject::State::uploaded, true},
        {1, day - 3600 - 1, clip, r.settings, S3OwnedObject::State::uploaded, true},
        {1, day - 3600, clip, r.settings, S3OwnedObject::State::uploaded, false},
        {7, 0, Uuid::random(), r.settings, S3OwnedObject::State::uploaded, false},
        {7, 0, clip, other, S3OwnedObject::State::uploaded, false},
        {7, 0, clip, r.settings, S3OwnedObject::State::uncertain, false},
    };
    for (const auto& [days, after, id, active, state, live] : cases) {
        defaults.set(S3History::lifecycleDaysKey(r.settings), days);
        r.state = state;
        EXPECT_EQ(S3History::isLiveUpload(r, id, created + after, active, defaults), live) << days << " " << after;
        if (state == S3OwnedObject::State::uploaded && id == clip && active == r.settings)
            EXPECT_EQ(S3History::survivesAutoDelete(r, created + after, defaults), live);
    }
}

}  // namespace
}  // namespace brevalto
