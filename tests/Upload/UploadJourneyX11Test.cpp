// A new user's way through uploads: the Upload page, a region capture uploaded from the floating
// thumbnail, the card's Copy link, and the history's Verify, auto-delete, Delete and Forget. The
// environment's proxy leads s3.brevalto.test over TLS to s3rver. Screenshots stay in the build
// tree (tests/screenshots/upload-journey).
#include "UploadJourney.h"
#include "Platform/Hashing.h"
#include "S3rver.h"
#include "StandIns.h"
#include "Upload/S3OwnedObject.h"

namespace brevalto {
namespace {

TEST_F(UploadJourney, ASetUpBucketTakesARegionCaptureAndGivesBackItsLink) {
    S3rver server(QStringLiteral("photos"), {QStringLiteral("--no-vhost-buckets")});
    ASSERT_FALSE(server.endpoint.empty()) << "s3rver did not start: run scripts/setup";
    TlsProxyStandIn proxy(standIns_ / "proxy", {{"s3.brevalto.test", static_cast<std::uint16_t>(std::stoi(server.port))}});
    ASSERT_TRUE(proxy.running());
    proxy.addTo(env_);
    startApp();

    // 1. Settings > Upload.
    const QString settings = openSettings(4);
    ASSERT_FALSE(settings.isEmpty());
    screenshot("1-upload-tab.png");

    // 2. Endpoint, bucket and both keys; save, then the bucket test.
    const QPoint page = origin(settings);
    click(page + QPoint(393, 124));
    type(QString::fromStdString("https://s3.brevalto.test:" + server.port));
    keys({"Tab"});
    type("photos");
    keys({"Tab", "Tab", "Tab", "Tab"});
    type("S3RVER");
    keys({"Tab"});
    type("any-secret-key-0123456789");
    click(page + QPoint(268, 472));
    ASSERT_TRUE(waitUntil([&] { return defaults().contains("app.brevalto.s3.settings"); }, 5000)) << defaults().dump();
    EXPECT_EQ(defaults().dump().find("any-secret-key"), std::string::npos);
    screenshot("2-saved.png");
    click(page + QPoint(108, 472));
    screenshot("2-tested.png");

    // 3. A region capture; the thumbnail's "Upload and copy link".
    const QPoint thumbnail = captureRegionToThumbnail();
    ASSERT_FALSE(window("^Screenshot$").isEmpty());
    click(thumbnail + QPoint(140, 254));
    ASSERT_TRUE(waitUntil([&] { return history().size() == 1 && history()[0]["state"] == "uploaded"; }, 15000))
        << history().dump();
    ASSERT_TRUE(waitUntil([&] { return clipboard().startsWith("https://s3.brevalto.test:"); }, 5000)) << clipboard().toStdString();
    screenshot("3-link-copied.png");
    click(origin(window("^Screenshot$")) + QPoint(20, 20));  // close the preview
    ASSERT_TRUE(waitUntil([&] { return window("^Screenshot$").isEmpty(); }, 5000));
    const QString link = clipboard();
    EXPECT_TRUE(link.contains("X-Amz-Signature="));
    const std::filesystem::path got = home_ / "got.png";
    run("curl", {"-sS", "-f", "--cacert", QString::fromStdString(proxy.authority().string()), "-o",
                 QString::fromStdString(got.string()), link});
    const std::string png = AtomicFile::read(got, 64 << 20);
    EXPECT_TRUE(png.starts_with("\x89PNG"));
    EXPECT_EQ(sha256Hex(sha256(png)), history()[0]["sha256"]);

    // 4. The card offers "Copy link": no second upload, the link again.
    run("xclip", {"-selection", "clipboard", "-i", "/dev/null"});
    QThread::msleep(1000);
    keys({"super+shift+space"});
    QThread::msleep(1000);
    screenshot("4-card.png");
    click(QPoint(718, 252));  // the first card's upload control, in the panel at the top centre
    ASSERT_TRUE(waitUntil([&] { return clipboard().startsWith(link.section('?', 0, 0)); }, 5000))
        << clipboard().toStdString();
    EXPECT_EQ(history().size(), 1u);
    screenshot("4-card-link-copied.png");
    keys({"super+shift+space"});
    QThread::msleep(800);

    // 5. The history row, with the page scrolled to its end: Verify, "7 days" (s3rver keeps no
    //    lifecycle rules, so the picker stays at the stored "Never"), Delete with the key typed,
    //    Forget.
    run("xdotool", {"windowactivate", "--sync", settings});
    const QPoint margin = page + QPoint(20, 300);
    run("xdotool", {"mousemove", QString::number(margin.x()), QString::number(margin.y())});
    for (int i = 0; i < 15; ++i) run("xdotool", {"click", "5"});
    QThread::msleep(500);
    click(page + QPoint(462, 519));
    QThread::msleep(1500);
    screenshot("5-verified.png");
    EXPECT_EQ(history()[0]["state"], "uploaded");
    click(page + QPoint(395, 400));
    QThread::msleep(500);
    type("7");
    keys({"Return"});
    QThread::msleep(1500);
    screenshot("5-seven-days.png");
    EXPECT_FALSE(defaults().contains("upload.lifecycleDays." + history()[0]["settings"].dump()));
    click(page + QPoint(544, 519));
    QThread::msleep(1000);
    type(QString::fromStdString(history()[0]["key"].get<std::string>()));
    screenshot("6-delete-alert.png");
    keys({"Return"});
    ASSERT_TRUE(waitUntil([&] { return history().size() == 1 && history()[0]["state"] == "deleted"; }, 10000))
        << history().dump();
    screenshot("6-deleted.png");
    click(page + QPoint(91, 547));
    ASSERT_TRUE(waitUntil([&] { return history().empty(); }, 5000)) << history().dump();
    screenshot("7-forgotten.png");
}

}  // namespace
}  // namespace brevalto
