#include "FakeKeychain.h"
#include "FakePasteboard.h"
#include "ManualExecutor.h"
#include "Platform/Defaults.h"
#include "ScriptedUploadDialogs.h"
#include "TestFolder.h"
#include "Upload/S3Failure.h"
#include "Upload/S3History.h"
#include "Upload/S3SettingsView.h"
#include "Upload/S3UploadController.h"

#include <QComboBox>
#include <QDateTime>
#include <QLocale>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

using State = S3OwnedObject::State;

class S3SettingsViewTest : public ::testing::Test {
protected:
    std::unique_ptr<S3UploadController> make() {
        return std::make_unique<S3UploadController>(
            &board, defaults, "app.brevalto.S3", folder / "uploads.json",
            S3UploadController::Parts{.keychain = &keychain, .dialogs = &dialogs, .pool = &pool});
    }
    template <class T = QWidget>
    T* find(const QWidget& page, const QString& name) {
        auto* widget = page.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    static S3Settings destination() {
        S3Settings s;
        s.endpoint = "https://s3.example.com";
        s.bucket = "photos";
        return s;
    }
    static S3OwnedObject record(State state, int n) {
        S3OwnedObject r{Uuid::random(), 757'000'000.0 + n, destination(), "", sha256Hex(sha256(std::to_string(n))), state, {}};
        r.key = r.settings.objectKey(r.createdAt, r.id);
        return r;
    }
    void type(QWidget& page, const char* name, const QString& text) {
        auto* field = find<QLineEdit>(page, QString::fromLatin1(name));
        field->clear();
        QTest::keyClicks(field, text);
    }
    void click(QWidget& page, const QString& name) { QTest::mouseClick(find<QPushButton>(page, name), Qt::LeftButton); }

    TestFolder folder;
    FakePasteboard board;
    Defaults defaults;
    FakeKeychain keychain;
    ScriptedUploadDialogs dialogs;
    ManualExecutor pool;
};

TEST_F(S3SettingsViewTest, FormEditsTheDestinationAndTheActionsReachTheController) {
    auto uploads = make();
    S3SettingsView page(*uploads);
    EXPECT_EQ(find<QLabel>(page, "uploadStatus")->text(), S3UploadController::initialStatus);
    EXPECT_EQ(find<QLineEdit>(page, "prefix")->text(), "brevalto");
    EXPECT_EQ(find<QLineEdit>(page, "expirySeconds")->text(), "3600");
    EXPECT_NE(find<QLabel>(page, "noUploads"), nullptr);

    type(page, "endpoint", "https://s3.example.com");
    type(page, "bucket", "photos");
    type(page, "region", "eu-west-1");
    find<QComboBox>(page, "linkMode")->setCurrentIndex(1);
    emit find<QComboBox>(page, "linkMode")->activated(1);
    type(page, "publicBaseURL", "https://cdn.example.com");
    type(page, "expirySeconds", "604801");
    type(page, "accessKey", "AKIA1");
    EXPECT_EQ(uploads->settings().region, "eu-west-1");
    EXPECT_EQ(uploads->settings().linkMode, S3Settings::LinkMode::publicURL);

    // Out of range: kept as typed, refused on save with the rule's message; one key only too.
    click(page, "saveSettings");
    EXPECT_EQ(find<QLabel>(page, "formError")->text().toStdString(),
              "Invalid region or prefix, or expiry outside 1-604800 seconds.");
    EXPECT_EQ(find<QLineEdit>(page, "expirySeconds")->text(), "604801");
    type(page, "expirySeconds", "604800");
    click(page, "saveSettings");
    EXPECT_EQ(find<QLabel>(page, "formError")->text().toStdString(),
              "Enter both keys, or leave both empty to keep existing keys.");
    type(page, "secretKey", "secret-key-0123456789");
    click(page, "saveSettings");
    EXPECT_TRUE(find<QLabel>(page, "formError")->text().isEmpty());
    EXPECT_TRUE(find<QLineEdit>(page, "accessKey")->text().isEmpty());
    EXPECT_TRUE(find<QLineEdit>(page, "secretKey")->text().isEmpty());
    EXPECT_TRUE(find<QLabel>(page, "uploadStatus")->text().startsWith("Settings and keys saved."));
    EXPECT_EQ(keychain.items.size(), 1u);
    EXPECT_EQ(uploads->settings().expirySeconds, 604800);

    // Test: without a network the bucket test fails, and says so.
    click(page, "testConnection");
    EXPECT_EQ(find<QLabel>(page, "uploadStatus")->text(), "Checking the bucket. No upload or bucket policy changes.");
    pool.runAll();
    EXPECT_EQ(find<QLabel>(page, "uploadStatus")->text().toStdString(), S3Failure::network(-1).what());
    // Remove keys asks first.
    dialogs.removeAnswers = {true};
    click(page, "removeKeys");
    EXPECT_EQ(find<QLabel>(page, "uploadStatus")->text(), "Keys removed for this destination.");
    EXPECT_TRUE(keychain.items.empty());

    // Cancel request stops a running upload; controls wait meanwhile.
    keychain.put("app.brevalto.S3", uploads->settings().identity(), R"({"accessKey":"AKIA1","secretKey":"secret-key-0123456789"})");
    QImage image(8, 8, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::red);
    ASSERT_TRUE(uploads->upload(image, true, std::nullopt));
    EXPECT_FALSE(find<QPushButton>(page, "saveSettings")->isEnabled());
    EXPECT_TRUE(find<QPushButton>(page, "cancelRequest")->isEnabled());
    click(page, "cancelRequest");
    EXPECT_EQ(find<QLabel>(page, "uploadStatus")->text().toStdString(), S3Failure::cancelled().what());
    EXPECT_TRUE(find<QPushButton>(page, "saveSettings")->isEnabled());
    pool.runAll();
    EXPECT_TRUE(uploads->history().empty());

    // Auto-delete: a wheel passing over the picker chooses nothing; a choice that fails falls
    // back to the stored days.
    auto* days = find<QComboBox>(page, "autoDelete");
    EXPECT_EQ(days->currentText(), "Never");
    const QString before = find<QLabel>(page, "uploadStatus")->text();
    QWheelEvent wheel(QPointF(5, 5), days->mapToGlobal(QPointF(5, 5)), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(days, &wheel);
    EXPECT_EQ(days->currentText(), "Never");
    EXPECT_EQ(find<QLabel>(page, "uploadStatus")->text(), before);
    days->setCurrentIndex(2);
    emit days->activated(2);
    pool.runAll();
    EXPECT_EQ(find<QLabel>(page, "uploadStatus")->text().toStdString(), S3Failure::network(-1).what());
    EXPECT_EQ(days->currentText(), "Never");
    EXPECT_EQ(days->itemText(1), "1 day");
    EXPECT_EQ(days->itemText(3), "30 days");

    // The provider switch shows the R2 destination instead of the S3 fields.
    auto* provider = find<QComboBox>(page, "uploadProvider");
    provider->setCurrentIndex(1);
    emit provider->activated(1);
    EXPECT_TRUE(uploads->useCloudflare());
    EXPECT_TRUE(find(page, "s3Fields")->isHidden());
    EXPECT_FALSE(find(page, "r2Destination")->isHidden());
    EXPECT_EQ(find<QLabel>(page, "r2Destination")->text(), "No R2 destination yet. Set it up in the Cloudflare tab.");
    S3Settings r2;
    r2.cloudflareAccountID = std::string(32, 'a');
    r2.endpoint = "https://api.cloudflare.com/client/v4/accounts/" + *r2.cloudflareAccountID + "/r2/buckets";
    r2.bucket = "shots";
    r2.linkMode = S3Settings::LinkMode::publicURL;
    r2.publicBaseURL = "https://pub.example.com";
    defaults.setData(S3UploadController::r2SettingsKey, r2.toJson().dump());
    auto restarted = make();
    S3SettingsView again(*restarted);
    EXPECT_EQ(find<QComboBox>(again, "uploadProvider")->currentIndex(), 1);
    EXPECT_EQ(find<QLabel>(again, "r2Destination")->text(),
              "Destination: shots at https://pub.example.com\nChange it in the Cloudflare tab.");
    click(again, "testConnection");
    EXPECT_EQ(find<QLabel>(again, "uploadStatus")->text(), "Checking the bucket. No upload or bucket policy changes.");
    restarted->cancelRunningOperation();
}

TEST_F(S3SettingsViewTest, HistoryRowsShowEachRecordWithItsActions) {
    const S3OwnedObject uploaded = record(State::uploaded, 1), deleted = record(State::deleted, 2);
    S3History::save({uploaded, deleted}, folder / "uploads.json");
    keychain.put("app.brevalto.S3", destination().identity(), R"({"accessKey":"AKIA1","secretKey":"secret-key-0123456789"})");
    auto uploads = make();
    S3SettingsView page(*uploads);
    const QString id = QString::fromStdString(uploaded.id.string()), gone = QString::fromStdString(deleted.id.string());
    EXPECT_EQ(find<QLabel>(page, "key-" + id)->text().toStdString(), uploaded.key);
    const QString when =
        QLocale().toString(QDateTime::fromSecsSinceEpoch(static_cast<qint64>(unixSeconds(uploaded.createdAt))), QLocale::ShortFormat);
    EXPECT_EQ(find<QLabel>(page, "detail-" + id)->text(), when + QStringLiteral(" \u00b7 uploaded"));
    EXPECT_TRUE(find<QLabel>(page, "detail-" + gone)->text().endsWith(QStringLiteral(" \u00b7 deleted")));
    EXPECT_EQ(find<QPushButton>(page, "delete-" + id)->text(), QStringLiteral("Delete\u2026"));
    EXPECT_FALSE(find<QPushButton>(page, "copyLink-" + gone)->isEnabled());
    EXPECT_FALSE(find<QPushButton>(page, "verify-" + gone)->isEnabled());

    click(page, "copyLink-" + id);
    EXPECT_TRUE(find<QLabel>(page, "uploadStatus")->text().startsWith("Presigned link copied."));
    EXPECT_TRUE(board.content().data(PasteboardType::string)->startsWith("https://s3.example.com/photos/brevalto/"));
    dialogs.typedKeys = {QString::fromStdString(uploaded.key).chopped(1)};
    click(page, "delete-" + id);
    EXPECT_EQ(dialogs.deleteQuestions, QStringList{"photos"});
    EXPECT_EQ(find<QLabel>(page, "uploadStatus")->text(), "The key does not match. No object was deleted.");
    click(page, "verify-" + id);  // starts a request, which the pool holds
    EXPECT_TRUE(uploads->busy());
    EXPECT_FALSE(find<QPushButton>(page, "forgetDeleted")->isEnabled());
    click(page, "cancelRequest");
    click(page, "forgetDeleted");
    EXPECT_EQ(find<QLabel>(page, "uploadStatus")->text(), "Deleted records removed locally. No server request was made.");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(page.findChild<QWidget*>("upload-" + gone), nullptr);
    EXPECT_NE(page.findChild<QWidget*>("upload-" + id), nullptr);
}

}  // namespace
}  // namespace brevalto
