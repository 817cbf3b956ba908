#include "FakeKeychain.h"
#include "FakePasteboard.h"
#include "ManualExecutor.h"
#include "Platform/Defaults.h"
#include "TestFolder.h"
#include "Upload/CloudflareSettingsView.h"
#include "Upload/S3UploadController.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace brevalto {
namespace {

const std::string account = "0123456789abcdef0123456789abcdef";

// Answers the Cloudflare API by path with fixed envelopes.
class CannedCloudflare final : public HttpClient {
public:
    HttpResponse send(const HttpRequest& request, std::stop_token, const Progress&) override {
        const std::string path = request.url.substr(request.url.find("/accounts"));
        auto answer = replies.find(path);
        HttpResponse response;
        response.status = answer == replies.end() ? 404 : 200;
        if (answer != replies.end()) response.body = answer->second;
        return response;
    }
    std::map<std::string, std::string> replies{
        {"/accounts?per_page=50&page=1", R"({"success":true,"result":[{"id":")" + account + R"(","name":"Studio"}]})"},
        {"/accounts/" + account + "/r2/buckets?per_page=1000",
         R"({"success":true,"result":{"buckets":[{"name":"shots"},{"name":"archive"}]}})"},
        {"/accounts/" + account + "/r2/buckets/shots/domains/managed",
         R"({"success":true,"result":{"domain":"pub-shots.r2.dev","enabled":true}})"},
        {"/accounts/" + account + "/r2/buckets/shots/domains/custom",
         R"({"success":true,"result":{"domains":[{"domain":"img.example.com","enabled":true}]}})"},
        {"/accounts/" + account + "/r2/buckets/archive/domains/managed",
         R"({"success":true,"result":{"domain":"pub-archive.r2.dev","enabled":false}})"},
        {"/accounts/" + account + "/r2/buckets/archive/domains/custom", R"({"success":true,"result":{"domains":[]}})"},
    };
};

class CloudflareSettingsViewTest : public ::testing::Test {
protected:
    std::unique_ptr<S3UploadController> make() {
        S3UploadController::Parts parts{.keychain = &keychain, .http = &http, .pool = &pool};
        parts.openBrowser = [](const std::string&, std::function<void()>) {};  // a browser nobody uses
        return std::make_unique<S3UploadController>(&board, defaults, "app.brevalto.S3", folder / "uploads.json", parts);
    }
    template <class T = QWidget>
    T* find(const QWidget& page, const char* name) {
        auto* widget = page.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    bool usable(const QWidget& page, const char* name) {
        QWidget* w = find(page, name);
        return w->isVisibleTo(&page) && w->isEnabled();
    }
    QStringList entries(const QWidget& page, const char* name) {
        QStringList out;
        auto* picker = find<QComboBox>(page, name);
        for (int i = 0; i < picker->count(); ++i) out << picker->itemText(i);
        return out;
    }
    void connectLogin() {
        CloudflareKeychain{"app.brevalto.S3.Cloudflare"}.save(keychain, CloudflareTokens{"at-1", "rt-1", 4e9});
    }

    TestFolder folder;
    FakePasteboard board;
    Defaults defaults;
    FakeKeychain keychain;
    CannedCloudflare http;
    ManualExecutor pool;
};

TEST_F(CloudflareSettingsViewTest, BeforeTheLoginOnlyConnectGatewayAndStatusAreUsable) {
    auto uploads = make();
    CloudflareSettingsView page(*uploads, defaults);
    page.show();
    EXPECT_EQ(find<QPushButton>(page, "connectCloudflare")->text(), "Connect Cloudflare");
    EXPECT_TRUE(usable(page, "connectCloudflare"));
    EXPECT_FALSE(usable(page, "disconnectCloudflare"));
    EXPECT_FALSE(usable(page, "refreshDestinations"));
    EXPECT_FALSE(usable(page, "cancelCloudflareRequest"));
    EXPECT_FALSE(usable(page, "cloudflareAccount"));
    EXPECT_FALSE(usable(page, "r2Bucket"));
    EXPECT_FALSE(usable(page, "saveR2Destination"));
    EXPECT_EQ(entries(page, "cloudflareAccount"), QStringList{"Select an account"});
    EXPECT_EQ(entries(page, "r2Bucket"), QStringList{"Select a bucket"});
    EXPECT_EQ(entries(page, "r2PublicDomain"), QStringList{"Select an enabled domain"});

    // The gateway ID is stored as typed and comes back in a new page.
    QTest::keyClicks(find<QLineEdit>(page, "gatewayID"), QStringLiteral("my-gateway"));
    EXPECT_EQ(defaults.string("aiGateway"), "my-gateway");

    // While the login waits for the browser, only Cancel request is usable among the account
    // buttons; the gateway field stays usable.
    QTest::mouseClick(find<QPushButton>(page, "connectCloudflare"), Qt::LeftButton);
    EXPECT_TRUE(uploads->busy());
    EXPECT_FALSE(usable(page, "connectCloudflare"));
    EXPECT_TRUE(usable(page, "cancelCloudflareRequest"));
    EXPECT_TRUE(usable(page, "gatewayID"));
    EXPECT_EQ(find<QLabel>(page, "cloudflareStatus")->text(),
              "Approve Cloudflare access in your browser. Login expires after three minutes. Tokens are stored only in "
              "the keyring.");
    QTest::mouseClick(find<QPushButton>(page, "cancelCloudflareRequest"), Qt::LeftButton);
    EXPECT_FALSE(uploads->busy());
    pool.runAll();  // the cancelled login ends and frees the listener
    CloudflareSettingsView again(*uploads, defaults);
    EXPECT_EQ(find<QLineEdit>(again, "gatewayID")->text(), "my-gateway");
}

TEST_F(CloudflareSettingsViewTest, AConnectedPageListsPicksAndSavesTheDestination) {
    connectLogin();
    auto uploads = make();
    CloudflareSettingsView page(*uploads, defaults);
    page.show();  // connected with nothing listed: the page reads the destinations once
    ASSERT_TRUE(uploads->busy());
    EXPECT_FALSE(usable(page, "r2Bucket"));
    pool.runAll();
    EXPECT_EQ(find<QPushButton>(page, "connectCloudflare")->text(), "Reconnect Cloudflare");
    EXPECT_TRUE(usable(page, "disconnectCloudflare"));
    EXPECT_EQ(entries(page, "cloudflareAccount"), (QStringList{"Select an account", "Studio"}));
    EXPECT_EQ(find<QComboBox>(page, "cloudflareAccount")->currentText(), "Studio");
    EXPECT_EQ(entries(page, "r2Bucket"), (QStringList{"Select a bucket", "shots", "archive"}));
    EXPECT_EQ(find<QComboBox>(page, "r2Bucket")->currentText(), "shots");
    EXPECT_EQ(entries(page, "r2PublicDomain"),
              (QStringList{"Select an enabled domain", "https://pub-shots.r2.dev", "https://img.example.com"}));
    EXPECT_EQ(find<QComboBox>(page, "r2PublicDomain")->currentText(), "https://pub-shots.r2.dev");
    EXPECT_EQ(find<QLabel>(page, "cloudflareStatus")->text(),
              "Destinations refreshed. Save the selected account, bucket and public domain.");

    // Save and Test need the R2 provider; the saved destination is shown once stored.
    EXPECT_FALSE(usable(page, "saveR2Destination"));
    uploads->setUseCloudflare(true);
    auto* domain = find<QComboBox>(page, "r2PublicDomain");
    domain->setCurrentIndex(2);
    emit domain->activated(2);
    find<QLineEdit>(page, "r2Prefix")->clear();
    QTest::keyClicks(find<QLineEdit>(page, "r2Prefix"), QStringLiteral("/x"));
    EXPECT_EQ(uploads->r2Settings().prefix, "/x");
    QTest::mouseClick(find<QPushButton>(page, "saveR2Destination"), Qt::LeftButton);
    EXPECT_FALSE(find(page, "r2SavedDestination")->isVisibleTo(&page)) << "a refused prefix stores nothing";
    find<QLineEdit>(page, "r2Prefix")->clear();
    QTest::keyClicks(find<QLineEdit>(page, "r2Prefix"), QStringLiteral("shots"));
    QTest::mouseClick(find<QPushButton>(page, "saveR2Destination"), Qt::LeftButton);
    EXPECT_TRUE(find(page, "r2SavedDestination")->isVisibleTo(&page));
    EXPECT_EQ(find<QLabel>(page, "r2SavedDestination")->text(), "Saved destination: shots\nhttps://img.example.com");

    // Another bucket lists its own domains: none enabled.
    auto* bucket = find<QComboBox>(page, "r2Bucket");
    bucket->setCurrentIndex(2);
    emit bucket->activated(2);
    pool.runAll();
    EXPECT_EQ(uploads->r2Settings().bucket, "archive");
    EXPECT_EQ(entries(page, "r2PublicDomain"), QStringList{"Select an enabled domain"});
    EXPECT_EQ(find<QLabel>(page, "cloudflareStatus")->text(),
              "This bucket has no enabled public domain. Configure public access in Cloudflare, then refresh. The app "
              "never changes bucket policies.");
}

}  // namespace
}  // namespace brevalto
