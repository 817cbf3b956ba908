#include "Platform/Linux/CurlHttpClient.h"
#include "TestFolder.h"
#include "Upload/S3Client.h"
#include "Upload/S3Failure.h"
#include "Upload/S3History.h"
#include "Upload/S3Lifecycle.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <functional>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
const std::string storage = S3Failure::storage().what();

S3Settings destination() {
    S3Settings s;
    s.endpoint = "https://s3.example.com/base/";
    s.bucket = "photos";
    s.region = "us-east-1";
    return s;
}

S3OwnedObject record(int n) {
    S3OwnedObject r{Uuid::random(), 757'000'000.0 + n, destination(), "", sha256Hex(sha256(std::to_string(n))),
                    S3OwnedObject::State::uploaded, std::nullopt};
    r.key = r.settings.objectKey(r.createdAt, r.id);
    return r;
}

std::string outcome(const std::function<void()>& action) {
    try {
        action();
        return "ok";
    } catch (const std::exception& error) {
        return error.what();
    }
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string archive(const std::vector<S3OwnedObject>& objects, int version = 1) {
    json::Json list = json::Json::array();
    for (const auto& o : objects) list.push_back(o.toJson());
    return json::Json{{"version", version}, {"objects", list}}.dump();
}

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(S3History, FirstSaveCreatesPrivateFilesAndRecordsRoundTrip) {
    TestFolder folder;
    const fs::path file = folder / "app/uploads.json";
    EXPECT_TRUE(S3History::load(file).empty());
    std::vector<S3OwnedObject> objects = {record(1), record(2)};
    objects[1].clipID = Uuid::random();
    objects[1].state = S3OwnedObject::State::deleted;
    S3History::save(objects, file);
    EXPECT_EQ(modeOf(folder / "app"), 0700u);
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(S3History::load(file), objects);
    EXPECT_EQ(json::parse(fileText(file))["objects"][0].count("clipID"), 0u);

    // A file left readable by others is replaced by a private one.
    ::chmod(file.c_str(), 0644);
    S3History::save({}, file);
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(fileText(file), R"({"version":1,"objects":[]})");
}

TEST(S3History, LimitsHoldOnReadAndWrite) {
    TestFolder folder;
    const fs::path file = folder / "uploads.json";
    std::vector<S3OwnedObject> objects;
    for (int i = 0; i < 2000; ++i) objects.push_back(record(i));
    S3History::save(objects, file);
    EXPECT_EQ(S3History::load(file).size(), 2000u);

    objects.push_back(record(2000));
    EXPECT_EQ(outcome([&] { S3History::save(objects, file); }), storage);
    EXPECT_EQ(S3History::load(file).size(), 2000u);
    writeText(file, archive(objects));
    EXPECT_EQ(outcome([&] { S3History::load(file); }), storage);

    // Padding after the JSON brings the file to exactly the size limit, then one byte past it.
    const std::string text = archive({record(1)});
    writeText(file, text + std::string(S3History::maxFileSize - text.size(), ' '));
    EXPECT_EQ(S3History::load(file).size(), 1u);
    writeText(file, text + std::string(S3History::maxFileSize - text.size() + 1, ' '));
    EXPECT_EQ(outcome([&] { S3History::load(file); }), storage);
}

TEST(S3History, BadRecordsAndBadFilesFailWithoutTouchingTheFile) {
    TestFolder folder;
    const fs::path file = folder / "uploads.json";
    using Change = std::function<void(std::vector<S3OwnedObject>&)>;
    const std::vector<std::pair<Change, std::string>> cases = {
        {[](auto& o) { o[1].id = o[0].id; o[1].key = o[1].settings.objectKey(o[1].createdAt, o[1].id); }, storage},
        {[](auto& o) { o[0].sha256[3] = 'A'; }, storage},
        {[](auto& o) { o[0].sha256.pop_back(); }, storage},
        {[](auto& o) { o[0].createdAt += 86400; }, storage},
        {[](auto& o) { o[0].key = "other/" + o[0].key.substr(o[0].key.find('/') + 1); }, storage},
        {[](auto& o) { o[0].settings.bucket = "x"; }, "Use a 3-63 character DNS bucket name with lowercase letters, "
                                                      "digits, dots or hyphens, not an IP address."},
    };
    for (const auto& [change, expected] : cases) {
        std::vector<S3OwnedObject> objects = {record(1), record(2)};
        change(objects);
        writeText(file, "previous");
        EXPECT_EQ(outcome([&] { S3History::save(objects, file); }), expected);
        EXPECT_EQ(fileText(file), "previous");
        writeText(file, archive(objects));
        EXPECT_EQ(outcome([&] { S3History::load(file); }), expected);
    }
    S3OwnedObject endless = record(1);
    endless.createdAt = INFINITY;
    EXPECT_EQ(outcome([&] { S3History::save({endless}, file); }), storage);
    writeText(file, archive({record(1)}, 2));
    EXPECT_EQ(outcome([&] { S3History::load(file); }), storage);

    // A corrupt file is reported and left as it was.
    const std::string corrupt = archive({record(1)}).substr(0, 100);
    writeText(file, corrupt);
    EXPECT_THROW(S3History::load(file), DecodingError);
    EXPECT_EQ(fileText(file), corrupt);
}

TEST(S3History, SymbolicLinksAreNeverFollowed) {
    TestFolder folder;
    fs::create_directory(folder / "real");
    S3History::save({record(1)}, folder / "real/uploads.json");
    const std::string kept = fileText(folder / "real/uploads.json");
    fs::create_directory_symlink(folder / "real", folder / "linked");
    fs::create_symlink(folder / "real/uploads.json", folder / "uploads.json");
    for (const fs::path& file : {folder / "linked/uploads.json", folder / "uploads.json"}) {
        EXPECT_EQ(outcome([&] { S3History::load(file); }), storage) << file;
        EXPECT_EQ(outcome([&] { S3History::save({}, file); }), storage) << file;
    }
    EXPECT_EQ(fileText(folder / "real/uploads.json"), kept);
}

TEST(S3Objects, KeysAndLinksEncodeEveryReservedCharacter) {
    CurlHttpClient http;
    S3Settings settings = destination();
    settings.prefix = "a b!#$&'()*+,:;=?@[]ü~";
    settings.publicBaseURL = "https://cdn.example.com/pub/";
    const S3OwnedObject r = [&] {
        S3OwnedObject o = record(1);
        o.settings = settings;
        o.key = settings.objectKey(o.createdAt, o.id);
        return o;
    }();
    const std::string encoded = "a%20b%21%23%24%26%27%28%29%2A%2B%2C%3A%3B%3D%3F%40%5B%5Dü~/20241227/" + r.uploadID() + ".png";
    const std::string utf8 = "%C3%BC";
    auto expect = [&](std::string text) { return text.replace(text.find("ü"), 2, utf8); };
    EXPECT_EQ(S3Client(settings, {}, false, http).requestURL(r.key), expect("https://s3.example.com/base/photos/" + encoded));
    EXPECT_EQ(settings.publicURL(r.key, false), expect("https://cdn.example.com/pub/" + encoded));
    settings.addressing = S3Settings::Addressing::virtualHost;
    settings.endpoint = "https://s3.example.com";
    EXPECT_EQ(S3Client(settings, {}, false, http).requestURL(std::nullopt), "https://photos.s3.example.com/");
    for (const char* bad : {"a%2Fb", "a\\b", "a//b", "../b", "/a", "a/", "a\tb", ""}) {
        EXPECT_EQ(outcome([&] { S3Client(settings, {}, false, http).requestURL(std::string(bad)); }), "Invalid object key.");
        EXPECT_EQ(outcome([&] { settings.publicURL(bad, false); }), "Invalid object key.");
    }
}

TEST(S3Objects, LifecycleKeepsForeignRulesAsWrittenAndRefusesEntities) {
    const std::string foreign = "<s3:Rule>\n  <s3:ID>a</s3:ID><Filter><Prefix>x&amp;y/</Prefix></Filter></s3:Rule>";
    const std::string unnamed = "<Rule><Status>Enabled</Status><Nested><ID>brevalto-expire</ID></Nested></Rule>";
    const std::string document = "<?xml version=\"1.0\"?>\n<LifecycleConfiguration xmlns:s3=\"urn:s3\">" + foreign +
                                 "<Rule><ID>brevalto-expire</ID></Rule><Other/>" + unnamed + "</LifecycleConfiguration>";
    EXPECT_EQ(foreignLifecycleRules(document), (std::vector<std::string>{foreign, unnamed}));
    EXPECT_TRUE(foreignLifecycleRules("<LifecycleConfiguration/>").empty());

    const std::string response = S3Failure::response().what();
    const std::string laughs = "<!DOCTYPE l [<!ENTITY a \"ha\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
                               "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]><L><Rule><ID>&c;</ID></Rule></L>";
    for (const std::string& bad : {laughs, std::string("<!DOCTYPE L SYSTEM \"file:///etc/passwd\"><L/>"),
                                   std::string("<!DOCTYPE L [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><L>&e;</L>"),
                                   std::string("<L><Rule>&undeclared;</Rule></L>"), std::string("<L><Rule></L>"),
                                   std::string(""), std::string("not xml")})
        EXPECT_EQ(outcome([&] { foreignLifecycleRules(bad); }), response) << bad;

    EXPECT_EQ(lifecycleDocument({"<Rule>r</Rule>"}, destination().lifecyclePrefix() + "a&<b>/", 7),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><LifecycleConfiguration "
              "xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\"><Rule>r</Rule><Rule><ID>brevalto-expire</ID><Filter>"
              "<Prefix>brevalto/a&amp;&lt;b&gt;/</Prefix></Filter><Status>Enabled</Status><Expiration><Days>7</Days>"
              "</Expiration></Rule></LifecycleConfiguration>");
}

}  // namespace
}  // namespace brevalto
