#include "FakeKeychain.h"
#include "FakePasteboard.h"
#include "LoginBrowser.h"
#include "LoopbackHttpServer.h"
#include "Platform/Defaults.h"
#include "QtWait.h"
#include "R2Destination.h"
#include "ReroutingHttp.h"
#include "ScriptedUploadDialogs.h"
#include "StandIns.h"
#include "TestFolder.h"
#include "Upload/CloudflareCallback.h"
#include "Upload/S3UploadController.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

using State = S3OwnedObject::State;

QImage picture(QRgb colour) {
    QImage image(64, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

// The upload controller against the Cloudflare stand-in: its OAuth and API roots point there, and
// the public bucket host (pub-shots.r2.dev) is rerouted to it.
class CloudflareUploadControllerNet : public ::testing::Test {
protected:
    std::unique_ptr<S3UploadController> make() {
        CloudflareEndpoints endpoints{cloudflare.url("/client/v4"), cloudflare.url("/oauth2"), loginPort,
                                      std::chrono::seconds(20)};
        return std::make_unique<S3UploadController>(
            &board, defaults, "app.brevalto.S3", folder.path() / "uploads.json",
            S3UploadController::Parts{.keychain = &keychain, .http = &http, .dialogs = &dialogs,
                                      .cloudflare = endpoints, .openBrowser = LoginBrowser::following(http, loginPort)});
    }
    std::string finish(S3UploadController& uploads) {
        EXPECT_TRUE(waitUntil([&] { return !uploads.busy(); }, 20000));
        statuses.push_back(uploads.status().toStdString());
        return statuses.back();
    }
    std::string link() { return board.content().data(PasteboardType::string).value_or(QByteArray()).toStdString(); }

    TestFolder folder;
    CloudflareStandIn cloudflare{folder.path() / "cloudflare.log"};
    ReroutingHttp http{cloudflare.url()};
    FakePasteboard board;
    Defaults defaults;
    FakeKeychain keychain;
    ScriptedUploadDialogs dialogs;
    std::uint16_t loginPort = LoopbackHttpServer::closedPort();
    std::vector<std::string> statuses;
};

TEST_F(CloudflareUploadControllerNet, ConnectsUploadsLinksVerifiesDeletesAndDisconnects) {
    auto uploads = make();
    EXPECT_FALSE(uploads->cloudflareConnected());
    uploads->connectCloudflare();
    EXPECT_EQ(finish(*uploads), "Cloudflare connected. Select a bucket and an enabled public domain, then save.");
    EXPECT_TRUE(uploads->cloudflareConnected());
    ASSERT_EQ(uploads->accounts().size(), 1u);
    const std::string account = uploads->accounts()[0].id;
    // The first listed bucket and its first enabled domain are taken.
    EXPECT_EQ(uploads->r2Settings().bucket, "shots");
    EXPECT_EQ(uploads->publicDomains(), std::vector<std::string>{"https://pub-shots.r2.dev"});
    EXPECT_EQ(uploads->r2Settings().publicBaseURL, "https://pub-shots.r2.dev");
    EXPECT_EQ(uploads->r2Settings().endpoint, "https://api.cloudflare.com/client/v4/accounts/" + account + "/r2/buckets");
    EXPECT_EQ(defaults.string(S3UploadController::accountIDKey), account);

    // A picked bucket must be one of the listed ones.
    uploads->refreshDestinations(std::nullopt, "elsewhere");
    EXPECT_EQ(finish(*uploads), "Select a listed bucket.");
    uploads->saveR2Destination();
    EXPECT_EQ(uploads->status().toStdString().substr(0, 22), "R2 destination saved. ");
    uploads->setUseCloudflare(true);
    uploads->testConnection();
    EXPECT_EQ(finish(*uploads), "R2 bucket and public-domain configuration are accessible. Upload and Copy link "
                                "verify image access separately.");

    // Upload with link copy: the public URL is checked, then copied; the same image again sends
    // no second PUT and copies the same link.
    const Uuid clip = Uuid::random();
    ASSERT_TRUE(uploads->upload(picture(0xff2288cc), true, clip));
    EXPECT_EQ(finish(*uploads), "Link copied.");
    ASSERT_EQ(uploads->history().size(), 1u);
    const S3OwnedObject record = uploads->history()[0];
    EXPECT_EQ(record.state, State::uploaded);
    EXPECT_EQ(link(), "https://pub-shots.r2.dev/" + record.key);
    EXPECT_TRUE(uploads->hasLiveUpload(clip));
    board.copyText(QStringLiteral("something else"));
    ASSERT_TRUE(uploads->upload(picture(0xff2288cc), true, clip));
    EXPECT_EQ(finish(*uploads), "Link copied.");
    EXPECT_EQ(http.puts, 1);
    EXPECT_EQ(link(), "https://pub-shots.r2.dev/" + record.key);

    uploads->verify(record.id);
    EXPECT_EQ(finish(*uploads), "Object ownership verified. Copy link and Delete are available.");
    uploads->setAutoDelete(7);
    EXPECT_EQ(finish(*uploads), "The bucket deletes uploads under brevalto/ about 7 days after upload, even when this "
                                "computer is off.");
    dialogs.typedKeys.push_back(QString::fromStdString(record.key));
    uploads->deleteObject(record.id);
    EXPECT_EQ(finish(*uploads), "The object was deleted or is already absent. Local history retains its deleted status.");
    EXPECT_EQ(uploads->history()[0].state, State::deleted);
    uploads->copyLink(record.id);
    EXPECT_EQ(finish(*uploads), "Verify the upload before copying its link.");

    uploads->disconnectCloudflare();
    EXPECT_EQ(finish(*uploads), "Cloudflare session revoked and local tokens removed. Uploaded objects are unchanged.");
    EXPECT_FALSE(uploads->cloudflareConnected());
    EXPECT_TRUE(keychain.items.empty());
    EXPECT_TRUE(uploads->accounts().empty());

    // No status line ever held a token, a code or a verifier.
    for (const auto& request : cloudflare.requests())
        for (const char* field : {"code", "code_verifier", "token", "refresh_token"})
            if (request["form"].is_object() && request["form"].contains(field)) {
                for (const std::string& status : statuses)
                    EXPECT_EQ(status.find(request["form"][field].get<std::string>()), std::string::npos) << status;
            }
}

TEST_F(CloudflareUploadControllerNet, LoginFailuresShowLoginSentences) {
    auto uploads = make();
    {
        CloudflareCallback other("S", loginPort);  // another login holds the port
        uploads->connectCloudflare();
        EXPECT_EQ(finish(*uploads), CloudflareCallback::cannotListenText);
    }
    S3UploadController::Parts parts{.keychain = &keychain, .http = &http, .dialogs = &dialogs};
    parts.cloudflare = CloudflareEndpoints{cloudflare.url("/client/v4"), cloudflare.url("/oauth2"), loginPort};
    parts.openBrowser = [](const std::string&, std::function<void()> failed) { failed(); };
    S3UploadController noBrowser(&board, defaults, "app.brevalto.S3", folder.path() / "uploads.json", parts);
    noBrowser.connectCloudflare();
    EXPECT_EQ(finish(noBrowser), "Could not open the browser for Cloudflare login. Connect again when ready.");
    EXPECT_FALSE(noBrowser.cloudflareConnected());
    EXPECT_TRUE(keychain.items.empty());
    // A destination without the login fails before any request with the keyring's sentence and
    // leaves no record of an object that was never sent.
    noBrowser.setR2Settings(savedR2Destination());
    noBrowser.setUseCloudflare(true);
    const std::size_t requests = cloudflare.requests().size();
    ASSERT_TRUE(noBrowser.upload(picture(0xff000000), true, std::nullopt));
    EXPECT_EQ(finish(noBrowser), "Connect Cloudflare to continue (keyring -25300).");
    EXPECT_TRUE(noBrowser.history().empty());
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "uploads.json"));
    EXPECT_EQ(cloudflare.requests().size(), requests);
}

}  // namespace
}  // namespace brevalto
