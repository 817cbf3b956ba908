#include "Upload/S3UploadController.h"
#include "Upload/S3UploadControllerStep.h"

#include "Document/ScreenshotOutput.h"
#include "KeychainItems/KeychainAccess.h"
#include "Platform/AppPaths.h"
#include "Platform/Clock.h"
#include "Platform/Defaults.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/S3Failure.h"
#include "Upload/S3History.h"
#include "Upload/UploadDialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>
#include <QTimer>


namespace brevalto {

namespace {

constexpr KeychainStatus serviceNotAvailable = -67585;

// Stands in for a missing HTTP client: every exchange fails as a connection would.
class NoHttp final : public HttpClient {
public:
    HttpResponse send(const HttpRequest&, std::stop_token, const Progress&) override {
        throw HttpError(HttpError::Kind::transport, HttpError::unknown);
    }
};

HttpClient& noHttp() {
    static NoHttp http;
    return http;
}

QString text(const char* sentence) { return QString::fromUtf8(sentence); }

// Opens the login page from the GUI thread; a browser that does not start fails the login.
void openInBrowser(const std::string& url, std::function<void()> failed) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [url, failed = std::move(failed)] {
            if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(url)))) failed();
        },
        Qt::QueuedConnection);
}

// The stored JSON of a destination when it is small enough and decodes.
std::optional<S3Settings> storedSettings(const Defaults& defaults, const std::string& key, bool& present) {
    const std::optional<std::string> data = defaults.data(key);
    present = data.has_value();
    if (!data || data->size() > S3UploadController::kMaxStoredSettings) return std::nullopt;
    try {
        return S3Settings::fromJson(json::parse(*data));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

S3UploadController::S3UploadController(Pasteboard* pasteboard, Defaults& defaults, std::string keychainService,
                                       std::optional<std::filesystem::path> historyFile, Parts parts,
                                       QObject* parent)
    : QObject(parent),
      pasteboard_(pasteboard),
      defaults_(defaults),
      keychain_{std::move(keychainService)},
      keychainAccess_(parts.keychain),
      http_(parts.http),
      clock_(parts.clock ? *parts.clock : Clock::system()),
      dialogs_(parts.dialogs ? *parts.dialogs : UploadDialogs::system()),
      pool_(parts.pool ? *parts.pool : TaskPool::shared()),
      encode_(std::move(parts.encode)),
      allowLoopbackHTTP_(parts.allowLoopbackHTTP),
      historyFile_(historyFile ? std::move(*historyFile) : AppPaths::dataFolder() / "uploads.json"),
      progressTimer_(new QTimer(this)),
      cloudflare_(std::make_shared<CloudflareConnection>(keychain_.service + ".Cloudflare", parts.keychain, parts.http,
                                                         clock_, std::move(parts.cloudflare))) {
    cloudflare_->setBrowserOpener(parts.openBrowser ? std::move(parts.openBrowser) : openInBrowser);
    if (!encode_)
        encode_ = [](const QImage& image) {
            return ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, Qt::white, false, 1.0, 0.9);
        };
    progressTimer_->setInterval(kProgressIntervalMs);
    connect(progressTimer_, &QTimer::timeout, this, [this] {
        if (report_ && report_->fresh.exchange(false)) setProgress(report_->fraction.load());
    });

    setUseCloudflare(defaults_.boolValue(useCloudflareKey));
    cloudflareConnected_ = cloudflare_->connected();
    readStoredSettings();
    try {
        history_ = S3History::load(historyFile_, allowLoopbackHTTP_);
    } catch (...) {
        storageAvailable_ = false;
        status_ = text(S3Failure::storage().what());
    }
}

S3UploadController::~S3UploadController() {
    if (work) work->cancel();
}

std::optional<S3Settings> S3UploadController::savedR2Settings() const {
    bool present = false;
    std::optional<S3Settings> r2 = storedSettings(defaults_, r2SettingsKey, present);
    if (!r2 || !r2->cloudflareAccountID) return std::nullopt;
    try {
        r2->validate(false);
    } catch (const S3Failure&) {
        return std::nullopt;
    }
    return r2;
}

void S3UploadController::readStoredSettings() {
    bool present = false;
    if (auto r2 = savedR2Settings()) r2Settings_ = *r2;
    const std::optional<S3Settings> s3 = storedSettings(defaults_, settingsKey, present);
    if (!present) return;
    try {
        if (!s3) throw S3Failure::invalid("");
        s3->validate(allowLoopbackHTTP_);
        settings_ = *s3;
    } catch (const S3Failure&) {
        settings_ = S3Settings();
        status_ = QStringLiteral("Invalid S3 settings. Correct and save them; existing keys remain in the keyring.");
    }
}

std::string S3UploadController::defaultKeychainService() { return S3Keychain::defaultService(); }

int S3UploadController::lifecycleDays(const S3Settings& settings) const {
    return static_cast<int>(defaults_.integer(S3History::lifecycleDaysKey(settings)));
}

bool S3UploadController::hasLiveUpload(const Uuid& clipID) const {
    const Date now = clock_.now();
    for (const S3OwnedObject& record : history_)
        if (S3History::isLiveUpload(record, clipID, now, activeSettings(), defaults_)) return true;
    return false;
}

void S3UploadController::setSettings(const S3Settings& settings) {
    if (settings_ == settings) return;
    settings_ = settings;
    emit settingsChanged();
}

void S3UploadController::setR2Settings(const S3Settings& settings) {
    if (r2Settings_ == settings) return;
    r2Settings_ = settings;
    emit settingsChanged();
}

void S3UploadController::setCloudflareConnected(bool connected) {
    if (cloudflareConnected_ == connected) return;
    cloudflareConnected_ = connected;
    emit cloudflareChanged();
}

void S3UploadController::setUseCloudflare(bool use) {
    defaults_.set(useCloudflareKey, use);
    if (useCloudflare_ == use) return;
    useCloudflare_ = use;
    emit settingsChanged();
}

void S3UploadController::setStatus(const QString& status) {
    if (status_ == status) return;
    status_ = status;
    emit statusChanged();
}

void S3UploadController::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    emit busyChanged();
}

void S3UploadController::setProgress(double progress) {
    if (progress_ == progress) return;
    progress_ = progress;
    emit progressChanged();
}

void S3UploadController::fail(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const CloudflareFailure& failure) {
        return setStatus(text(failure.what()));
    } catch (...) {
    }
    setStatus(text(S3Failure::from(error).what()));
}

// Settings and keys.

void S3UploadController::saveSettings(const QString& accessKey, const QString& secretKey) {
    if (busy_) throw S3Failure::invalid("Wait for the current S3 operation before saving settings.");
    settings_.validate(allowLoopbackHTTP_);
    if (accessKey.isEmpty() != secretKey.isEmpty())
        throw S3Failure::invalid("Enter both keys, or leave both empty to keep existing keys.");
    const bool withKeys = !accessKey.isEmpty();
    if (withKeys) {
        if (!keychainAccess_) throw S3Failure::credentials(serviceNotAvailable);
        keychain_.save(*keychainAccess_, S3Credentials{accessKey.toStdString(), secretKey.toStdString()},
                       settings_.identity());
    }
    defaults_.setData(settingsKey, settings_.toJson().dump());
    setStatus(withKeys ? QStringLiteral("Settings and keys saved. The keyring stores separate keys for each endpoint, "
                                        "bucket and region.")
                       : QStringLiteral("Settings saved without keys. The keyring stores separate keys for each "
                                        "endpoint, bucket and region."));
}

void S3UploadController::removeKeys() {
    if (busy_ || !dialogs_.confirmRemoveKeys()) return;
    try {
        const std::string account = settings_.identity();
        keychain_.checkLocation(account);
        if (!keychainAccess_) throw S3Failure::credentials(serviceNotAvailable);
        keychain_.remove(*keychainAccess_, account);
        setStatus(QStringLiteral("Keys removed for this destination."));
    } catch (...) {
        fail(std::current_exception());
    }
}

S3Client S3UploadController::loadCredentials(const S3Settings& settings) const {
    settings.validate(allowLoopbackHTTP_);
    if (!keychainAccess_) throw S3Failure::credentials(serviceNotAvailable);
    S3Credentials credentials = keychain_.load(*keychainAccess_, settings.identity());
    return S3Client(settings, std::move(credentials), allowLoopbackHTTP_, http_ ? *http_ : noHttp(), clock_);
}

void S3UploadController::checkDestination(const S3Settings& destination) const {
    if (destination.endpoint.empty() || destination.bucket.empty()) throw S3Failure::invalid(setupMessage.toStdString());
    if (destination.cloudflareAccountID) {
        destination.validate(allowLoopbackHTTP_);
        cloudflare_->requireLogin();
    } else {
        loadCredentials(destination);
    }
}

// History.

void S3UploadController::saveHistory(const std::vector<S3OwnedObject>& objects) {
    if (!storageAvailable_) throw S3Failure::storage();
    try {
        S3History::save(objects, historyFile_, allowLoopbackHTTP_);
    } catch (...) {
        storageAvailable_ = false;
        throw S3Failure::storage();
    }
    history_ = objects;
    emit historyChanged();
}

void S3UploadController::setState(const S3OwnedObject& record, S3OwnedObject::State state) {
    std::vector<S3OwnedObject> copy = history_;
    const auto entry = std::find_if(copy.begin(), copy.end(), [&](const S3OwnedObject& o) { return o.id == record.id; });
    if (entry == copy.end()) throw S3Failure::storage();
    entry->state = state;
    saveHistory(copy);
}

const S3OwnedObject* S3UploadController::findRecord(const Uuid& id, bool allowDeleted) const {
    for (const S3OwnedObject& record : history_)
        if (record.id == id && (allowDeleted || record.state != S3OwnedObject::State::deleted)) return &record;
    return nullptr;
}

// Operations.

S3UploadController::Operation S3UploadController::begin(const QString& status) {
    auto source = std::make_shared<std::stop_source>();
    work = TaskHandle(source);
    const Operation operation{*work, ++workNumber_};
    setBusy(true);
    setStatus(status);
    return operation;
}

bool S3UploadController::isRunning(std::uint64_t number) const {
    return work && number == workNumber_ && !work->isCancelled();
}

void S3UploadController::finish(std::uint64_t number) {
    if (!isRunning(number)) return;
    work.reset();
    progressTimer_->stop();
    setBusy(false);
    emit operationEnded(number);
}

void S3UploadController::cancelRunningOperation() {
    if (!work) return;
    work->cancel();
    work.reset();
    progressTimer_->stop();
    setStatus(text(S3Failure::cancelled().what()));
    setBusy(false);
    emit operationEnded(workNumber_);
}

}  // namespace brevalto
