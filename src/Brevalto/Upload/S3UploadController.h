#pragma once

#include "ClipCore/Uuid.h"
#include "Platform/Task.h"
#include "Upload/CloudflareConnection.h"
#include "Upload/CloudflareR2.h"
#include "Upload/S3Client.h"
#include "Upload/S3Keychain.h"
#include "Upload/S3OwnedObject.h"
#include "Upload/S3Settings.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;

namespace brevalto {

class Clock;
class Defaults;
class HttpClient;
class KeychainAccess;
class Pasteboard;
class UploadDialogs;

// What the upload controller talks through. Without a keychain or an HTTP client every operation
// fails with the keyring's "not available" status; the others default to the system's.
struct S3UploadControllerParts {
    KeychainAccess* keychain = nullptr;
    HttpClient* http = nullptr;
    const Clock* clock = nullptr;
    UploadDialogs* dialogs = nullptr;
    TaskExecutor* pool = nullptr;
    // Encodes the image as the uploaded PNG; tests replace it to make exact sizes.
    std::function<QByteArray(const QImage&)> encode = {};
    // Admits plain HTTP to 127.0.0.1 (tests against a local server); the app passes false.
    bool allowLoopbackHTTP = false;
    // Where the Cloudflare connection reaches the API, the login endpoints and the login listener.
    CloudflareConnection::Endpoints cloudflare = {};
    // Opens the login page; by default the desktop's browser, from the GUI thread.
    CloudflareConnection::BrowserOpener openBrowser = {};
};

// Runs uploads of finished images to the user's destination and keeps their history
// ("uploads.json"). One instance lives for the whole run of the app; the screenshot workflow,
// the clip cards and the Upload settings page share it. Everything happens on the GUI thread
// except the PNG encoding, its digest and the requests, which run on the pool. One server
// operation at a time: `busy` gates them all, `work` is the running one.
class S3UploadController : public QObject {
    Q_OBJECT
public:
    static constexpr std::int64_t kMaxUploadBytes = 64 * 1024 * 1024;
    static constexpr std::size_t kMaxStoredSettings = 16384;
    static constexpr int kProgressIntervalMs = 16;  // one update per frame
    static inline const std::string settingsKey = "app.brevalto.s3.settings";
    static inline const std::string r2SettingsKey = "app.brevalto.r2.settings";
    static inline const std::string useCloudflareKey = "app.brevalto.upload.cloudflare";
    static inline const std::string accountIDKey = "cloudflare.accountID";
    static inline const QString setupMessage = QStringLiteral("Set up a destination in Settings > Upload.");
    static inline const QString initialStatus =
        QStringLiteral("Uploads start only when you click Upload. Bucket policies and ACLs are never changed.");

    using Parts = S3UploadControllerParts;

    // A started operation: cancel it through its handle; operationEnded reports its number.
    struct Operation {
        TaskHandle handle;
        std::uint64_t number = 0;
    };

    S3UploadController(Pasteboard* pasteboard, Defaults& defaults, std::string keychainService,
                       std::optional<std::filesystem::path> historyFile, Parts parts = {}, QObject* parent = nullptr);
    ~S3UploadController() override;

    // The keychain service of upload keys: the app's identifier followed by ".S3".
    static std::string defaultKeychainService();

    // Published state.
    const S3Settings& settings() const { return settings_; }
    // The page edits the S3 destination in place; it is stored only by saveSettings.
    void setSettings(const S3Settings& settings);
    bool useCloudflare() const { return useCloudflare_; }
    void setUseCloudflare(bool use);
    const S3Settings& r2Settings() const { return r2Settings_; }
    // The Cloudflare page edits the R2 destination's prefix and public domain in place; it is
    // stored only by saveR2Destination.
    void setR2Settings(const S3Settings& settings);
    // The R2 destination last saved, when one is stored and valid.
    std::optional<S3Settings> savedR2Settings() const;
    bool cloudflareConnected() const { return cloudflareConnected_; }
    const std::vector<CloudflareAccount>& accounts() const { return accounts_; }
    const std::vector<CloudflareBucket>& buckets() const { return buckets_; }
    const std::vector<std::string>& publicDomains() const { return publicDomains_; }
    // The app's one Cloudflare connection, shared with the AI Gateway.
    std::shared_ptr<CloudflareConnection> sharedCloudflare() const { return cloudflare_; }
    // The destination in use: the R2 one when Cloudflare is chosen, else the S3 one.
    const S3Settings& activeSettings() const { return useCloudflare_ ? r2Settings_ : settings_; }
    const std::vector<S3OwnedObject>& history() const { return history_; }
    const QString& status() const { return status_; }
    double progress() const { return progress_; }
    bool busy() const { return busy_; }
    bool storageAvailable() const { return storageAvailable_; }
    const std::filesystem::path& historyFile() const { return historyFile_; }
    const std::string& keychainService() const { return keychain_.service; }
    const Uuid& operationID() const { return operationID_; }
    // The auto-delete days stored for the destination (0 when none).
    int lifecycleDays(const S3Settings& settings) const;
    // Whether the history holds a live upload of the clip on the active destination now.
    bool hasLiveUpload(const Uuid& clipID) const;

    // The running operation, if any.
    std::optional<TaskHandle> work;

    // Stores the S3 destination and, when both are given, its keys (throws S3Failure).
    void saveSettings(const QString& accessKey, const QString& secretKey);
    // After the user confirms, removes the keys of the S3 destination from the keyring.
    void removeKeys();
    // A client for the destination with its stored keys (throws S3Failure).
    S3Client loadCredentials(const S3Settings& settings) const;
    // Throws why a new object cannot go to the destination, reading only the keyring: nothing
    // set up, invalid settings, no keys (S3) or no Cloudflare login (R2).
    void checkDestination(const S3Settings& destination) const;
    // Writes the history and publishes it; once a write failed, nothing more is written.
    void saveHistory(const std::vector<S3OwnedObject>& objects);
    void setState(const S3OwnedObject& record, S3OwnedObject::State state);
    // Shows the error in the status line, never a foreign error's own text.
    void fail(std::exception_ptr error);
    // HEAD of the active S3 bucket with its keys, or the R2 destination check; nothing is
    // uploaded or changed.
    void testConnection();

    // Logs in to Cloudflare in the browser, then lists the destinations.
    void connectCloudflare();
    // Lists accounts, buckets and public domains, after taking the picked account or bucket.
    void refreshDestinations(std::optional<std::string> accountID = std::nullopt,
                             std::optional<std::string> bucket = std::nullopt);
    // Revokes the login and removes it from the keyring; uploaded objects stay.
    void disconnectCloudflare();
    // Stores the R2 destination once its public domain is one of the listed ones.
    void saveR2Destination();

    // Uploads the image (encoded here as PNG) to the active destination, reusing a record of
    // the same image there, and copies its link when asked. None when busy or when the history
    // is not available (the status says why).
    std::optional<Operation> upload(const QImage& image, bool copyLink, std::optional<Uuid> clipID);
    // The same for an image made on the pool (a render): its errors are the app's own sentences
    // and show as they are.
    using ImageSource = std::function<QImage(std::stop_token)>;
    std::optional<Operation> upload(ImageSource image, bool copyLink, std::optional<Uuid> clipID);
    void verify(const Uuid& id);
    void copyLink(const Uuid& id);
    // After the user typed the record's exact key, deletes the object.
    void deleteObject(const Uuid& id);
    void setAutoDelete(int days);
    void forgetDeleted();
    // Puts the link alone on the clipboard, marked as the app's own copy (throws S3Failure).
    void writeLink(const std::string& url);

    // Cancels the running operation, if any, and says so in the status line.
    void cancelRunningOperation();

signals:
    void statusChanged();
    void busyChanged();
    void progressChanged();
    void historyChanged();
    // The S3 or R2 destination, the provider choice or auto-delete days changed.
    void settingsChanged();
    // The login state or the listed accounts, buckets or public domains changed.
    void cloudflareChanged();
    // The operation of that number ended: done, failed or cancelled.
    void operationEnded(quint64 number);

private:
    struct Encoded;
    struct ProgressReport;

    void setStatus(const QString& status);
    void setBusy(bool busy);
    void setProgress(double progress);
    // Starts an operation: busy, the status, a new `work`.
    Operation begin(const QString& status);
    // Ends the operation of that number, if it is still the running one.
    void finish(std::uint64_t number);
    bool isRunning(std::uint64_t number) const;
    // Runs work on the pool with the operation's stop token; done receives its result on the
    // GUI thread while the operation still runs, and the operation ends after done unless done
    // returns true (it went on with another step).
    template <class Work, class Done>
    void step(const Operation& operation, Work work, Done done);
    void continueUpload(const Operation& operation, const S3Settings& destination, bool copyLink,
                        std::optional<Uuid> clipID, std::shared_ptr<const std::string> png, const std::string& digest);
    // Copies the link of a record just uploaded; true when that goes on in a step of its own (R2).
    bool copyLinkAfterUpload(const Operation& operation, const S3OwnedObject& record);
    void copyPublicLink(const Operation& operation, const S3OwnedObject& record);
    struct Destinations;
    void listDestinations(const Operation& operation, bool login);
    void setCloudflareConnected(bool connected);
    const S3OwnedObject* findRecord(const Uuid& id, bool allowDeleted) const;
    void readStoredSettings();

    Pasteboard* pasteboard_;
    Defaults& defaults_;
    S3Keychain keychain_;
    KeychainAccess* keychainAccess_;
    HttpClient* http_;
    const Clock& clock_;
    UploadDialogs& dialogs_;
    TaskExecutor& pool_;
    std::function<QByteArray(const QImage&)> encode_;
    bool allowLoopbackHTTP_;
    std::filesystem::path historyFile_;

    S3Settings settings_;
    bool useCloudflare_ = false;
    S3Settings r2Settings_;
    std::vector<S3OwnedObject> history_;
    QString status_ = initialStatus;
    double progress_ = 0;
    bool busy_ = false;
    bool storageAvailable_ = true;
    Uuid operationID_ = Uuid::random();
    std::uint64_t workNumber_ = 0;
    std::shared_ptr<ProgressReport> report_;
    QTimer* progressTimer_;
    std::shared_ptr<CloudflareConnection> cloudflare_;
    bool cloudflareConnected_ = false;
    std::vector<CloudflareAccount> accounts_;
    std::vector<CloudflareBucket> buckets_;
    std::vector<std::string> publicDomains_;
};

}  // namespace brevalto
