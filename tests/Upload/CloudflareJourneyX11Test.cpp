// A new user's way through Cloudflare: connect in the browser (a stand-in for xdg-open follows the
// authorization page's redirect to the login listener), pick the bucket and public domain, upload a
// region capture to R2 from the floating thumbnail, translate a text clip through the AI Gateway
// with the same login, and disconnect. The environment's proxy leads the OAuth, API, public bucket
// and gateway hosts over TLS to loopback stand-ins. Screenshots stay in the build tree
// (tests/screenshots/cloudflare-journey).
#include "UploadJourney.h"
#include "Platform/Hashing.h"
#include "StandIns.h"
#include "Upload/S3OwnedObject.h"

#include <fstream>

namespace brevalto {
namespace {

class CloudflareJourney : public UploadJourney {
protected:
    CloudflareJourney() : UploadJourney("cloudflare-journey") {}

    bool listening() { return run("ss", {"-ltnH", "sport = :49167"}).contains("49167"); }
    // The keyring items of the Cloudflare login, asked of the app's own Secret Service.
    QString loginItems() {
        const std::string pid = AtomicFile::read(home_ / "app.pid", 64);
        std::ifstream file("/proc/" + QString::fromStdString(pid).trimmed().toStdString() + "/environ", std::ios::binary);
        const std::string environ((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        QProcessEnvironment session = env_;
        for (std::size_t at = 0; at < environ.size();) {
            const std::size_t end = std::min(environ.find('\0', at), environ.size());
            const QString entry = QString::fromStdString(environ.substr(at, end - at));
            if (entry.startsWith("DBUS_SESSION_BUS_ADDRESS=")) session.insert("DBUS_SESSION_BUS_ADDRESS", entry.section('=', 1));
            at = end + 1;
        }
        QProcess gdbus;
        gdbus.setProcessEnvironment(session);
        gdbus.start("gdbus", {"call", "--session", "--dest", "org.freedesktop.secrets", "--object-path",
                              "/org/freedesktop/secrets", "--method", "org.freedesktop.Secret.Service.SearchItems",
                              "{'service': 'app.brevalto.S3.Cloudflare', 'account': 'oauth'}"});
        EXPECT_TRUE(gdbus.waitForFinished(10000));
        return QString::fromUtf8(gdbus.readAllStandardOutput()).trimmed();
    }
};

TEST_F(CloudflareJourney, ConnectUploadToR2TranslateThroughTheGatewayAndDisconnect) {
    CloudflareStandIn cloudflare(standIns_ / "cloudflare.log");
    MessagesApiStandIn messages(standIns_ / "messages.log");
    ASSERT_TRUE(cloudflare.running() && messages.running());
    TlsProxyStandIn proxy(standIns_ / "proxy", {{"dash.cloudflare.com", cloudflare.port()},
                                                 {"api.cloudflare.com", cloudflare.port()},
                                                 {"pub-shots.r2.dev", cloudflare.port()},
                                                 {"gateway.ai.cloudflare.com", messages.port()}});
    ASSERT_TRUE(proxy.running());
    proxy.addTo(env_);
    env_.insert("PATH", QStringLiteral(BREVALTO_SOURCE_DIR "/tests/Support/browser:") + env_.value("PATH"));
    ASSERT_FALSE(listening()) << "another login holds 127.0.0.1:49167";
    startApp();

    // 1. Settings > Cloudflare: only Connect, the gateway field and the status are usable.
    const QString settings = openSettings(5);
    ASSERT_FALSE(settings.isEmpty());
    const QPoint page = origin(settings);
    screenshot("1-cloudflare-tab.png");

    // 2. Connect: the browser comes back with the code; the account, the first bucket and its
    //    public domain are listed and chosen.
    click(page + QPoint(81, 110));
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& r : cloudflare.requests())
                if (r["path"].get<std::string>().ends_with("/domains/custom")) return true;
            return false;
        },
        15000))
        << "no destinations listed";
    QThread::msleep(1000);
    EXPECT_FALSE(listening()) << "the listener closed after the redirect";
    EXPECT_EQ(defaults().value("cloudflare.accountID", ""), "0123456789abcdef0123456789abcdef");
    screenshot("2-connected.png");

    // In Upload choose "Cloudflare R2 (sign in)", then save and test on the Cloudflare page.
    click(page + QPoint(411, 13));
    QThread::msleep(700);
    click(page + QPoint(353, 75));
    QThread::msleep(700);
    keys({"Down", "Return"});
    ASSERT_TRUE(waitUntil([&] { return defaults().value("app.brevalto.upload.cloudflare", false); }, 5000));
    screenshot("2-upload-provider.png");
    click(page + QPoint(506, 13));
    QThread::msleep(700);
    click(page + QPoint(84, 380));
    ASSERT_TRUE(waitUntil([&] { return defaults().contains("app.brevalto.r2.settings"); }, 5000)) << defaults().dump();
    screenshot("2-saved.png");
    click(page + QPoint(207, 414));
    QThread::msleep(1500);
    screenshot("2-tested.png");

    // 3. A region capture; the thumbnail's "Upload and copy link", past the public-bucket alert.
    const QPoint thumbnail = captureRegionToThumbnail();
    ASSERT_FALSE(window("^Screenshot$").isEmpty());
    click(thumbnail + QPoint(140, 254));
    QThread::msleep(1000);
    screenshot("3-public-bucket-alert.png");
    keys({"Return"});
    ASSERT_TRUE(waitUntil([&] { return history().size() == 1 && history()[0]["state"] == "uploaded"; }, 15000))
        << history().dump();
    ASSERT_TRUE(waitUntil([&] { return clipboard().startsWith("https://pub-shots.r2.dev/brevalto/"); }, 5000))
        << clipboard().toStdString();
    screenshot("3-link-copied.png");
    EXPECT_EQ(clipboard().toStdString(), "https://pub-shots.r2.dev/" + history()[0]["key"].get<std::string>());
    const std::filesystem::path got = home_ / "got.png";
    run("curl", {"-sS", "-f", "--cacert", QString::fromStdString(proxy.authority().string()), "-x",
                 QString::fromStdString(proxy.proxyUrl()), "-o", QString::fromStdString(got.string()), clipboard()});
    const std::string png = AtomicFile::read(got, 64 << 20);
    EXPECT_TRUE(png.starts_with("\x89PNG"));
    EXPECT_EQ(sha256Hex(sha256(png)), history()[0]["sha256"]);
    click(thumbnail + QPoint(20, 20));  // close the preview
    ASSERT_TRUE(waitUntil([&] { return window("^Screenshot$").isEmpty(); }, 5000));

    // 4. A Gateway ID, AI set to "Cloudflare AI Gateway", a text clip translated from the panel.
    run("xdotool", {"windowactivate", "--sync", settings});
    click(page + QPoint(351, 483));
    type("brevalto-gw");
    ASSERT_TRUE(waitUntil([&] { return defaults().value("aiGateway", "") == "brevalto-gw"; }, 5000));
    click(page + QPoint(343, 13));
    QThread::msleep(700);
    click(page + QPoint(336, 75));
    QThread::msleep(700);
    keys({"Down", "Return"});
    ASSERT_TRUE(waitUntil([&] { return defaults().value("aiProvider", "") == "cloudflare"; }, 5000)) << defaults().dump();
    screenshot("4-ai-gateway.png");
    copyText("Guten Morgen, wie geht es dir?");
    keys({"super+shift+space"});
    QThread::msleep(1000);
    click(origin(window("^Brevalto$")) + QPoint(101, 244));  // the first card's translate button
    const auto translations = [&] {
        std::vector<nlohmann::json> posts;
        for (const auto& r : messages.requests())
            if (r["method"] == "POST") posts.push_back(r);
        return posts;
    };
    ASSERT_TRUE(waitUntil([&] { return !translations().empty(); }, 15000)) << "no translation request";
    const nlohmann::json request = translations().back();
    EXPECT_EQ(request["headers"]["host"], "gateway.ai.cloudflare.com");
    EXPECT_EQ(request["path"], "/v1/0123456789abcdef0123456789abcdef/brevalto-gw/anthropic/v1/messages");
    const std::string bearer = request["headers"]["cf-aig-authorization"].get<std::string>();
    EXPECT_TRUE(bearer.starts_with("Bearer at-")) << "the gateway uses the login's access token";
    QThread::msleep(1000);
    screenshot("4-translated.png");
    keys({"super+shift+space"});
    QThread::msleep(800);

    // 5. Disconnect: both tokens are revoked, the keyring item goes and nothing listens on the
    //    login port.
    EXPECT_TRUE(loginItems().contains("/org/freedesktop/secrets/collection/")) << loginItems().toStdString();
    run("xdotool", {"windowactivate", "--sync", settings});
    click(page + QPoint(506, 13));
    QThread::msleep(700);
    click(page + QPoint(202, 110));
    const auto revocations = [&] {
        int n = 0;
        for (const auto& r : cloudflare.requests()) n += r["path"] == "/oauth2/revoke";
        return n;
    };
    ASSERT_TRUE(waitUntil([&] { return revocations() == 2; }, 10000));
    QThread::msleep(1000);
    screenshot("5-disconnected.png");
    EXPECT_FALSE(listening());
    EXPECT_FALSE(loginItems().contains("/org/freedesktop/secrets/collection/")) << loginItems().toStdString();
    EXPECT_TRUE(loginItems().startsWith("(")) << "the keyring answered";
    // No token reached the settings file.
    EXPECT_EQ(defaults().dump().find(bearer.substr(7)), std::string::npos);
}

}  // namespace
}  // namespace brevalto
