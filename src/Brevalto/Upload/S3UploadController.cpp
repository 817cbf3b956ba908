#include "Upload/S3UploadController.h"

#include "Document/ScreenshotOutput.h"
#include "KeychainItems/KeychainAccess.h"
#include "Platform/AppPaths.h"
#include "Platform/Clock.h"
#include "Platform/Defaults.h"
#include "Platform/Hashing.h"
#include "Platform/Pasteboard.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/S3Failure.h"
#include "Upload/S3History.h"
#include "Upload/UploadDialogs.h"

#include <QColor>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>
#include <QTimer>

#include <atomic>

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

template <class List, class Same>
bool contains(const List& list, Same same) {
    return std::find_if(list.begin(), list.end(), same) != list.end();
}

QString days(int count) { return count == 1 ? QStringLiteral("1 day") : QStringLiteral("%1 days").arg(count); }

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

// The image as uploaded: its PNG bytes and their digest.
struct S3UploadController::Encoded {
    std::shared_ptr<const std::string> png;
    std::string digest;
};

// Upload progress as the transfer thread reports it; the GUI reads it once per frame.
struct S3UploadController::ProgressReport {
    std::atomic<double> fraction{0};
    std::atomic<bool> fresh{false};
};

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

template <class Work, class Done>
void S3UploadController::step(const Operation& operation, Work work, Done done) {
    using R = std::invoke_result_t<Work, std::stop_token>;
    // The operation's own token stops the work; the pool's is never cancelled.
    const std::uint64_t number = operation.number;
    TaskHandle handle = operation.handle;
    Task::run(
        pool_, this,
        [work = std::move(work), handle](std::stop_token) mutable -> R {
            if (handle.isCancelled()) throw TaskCancelled();
            return work(handle.token());
        },
        [this, number, done = std::move(done)](TaskResult<R>& result) mutable {
            if (!isRunning(number)) return;
            bool continued = false;
            try {
                continued = done(result);
            } catch (...) {
                fail(std::current_exception());
            }
            if (!continued) finish(number);
        });
}

std::optional<S3UploadController::Operation> S3UploadController::upload(const QImage& image, bool copyLink,
                                                                         std::optional<Uuid> clipID) {
    return upload([image](std::stop_token) { return image; }, copyLink, clipID);
}

std::optional<S3UploadController::Operation> S3UploadController::upload(ImageSource image, bool copyLink,
                                                                         std::optional<Uuid> clipID) {
    if (busy_) return std::nullopt;
    if (!storageAvailable_) {
        setStatus(text(S3Failure::storage().what()));
        return std::nullopt;
    }
    const S3Settings destination = activeSettings();
    operationID_ = Uuid::random();
    const Operation operation = begin(QStringLiteral("Preparing the final PNG. Source files and documents are not sent."));
    setProgress(0);
    step(
        operation,
        [image = std::move(image), encode = encode_, destination, copyLink,
         allowLoopback = allowLoopbackHTTP_](std::stop_token cancel) {
            if (copyLink && (destination.endpoint.empty() || destination.bucket.empty()))
                throw S3Failure::invalid(setupMessage.toStdString());
            destination.validate(allowLoopback);
            QImage picture;
            try {
                picture = image(cancel);
            } catch (const S3Failure&) {
                throw;
            } catch (const std::exception& error) {
                if (cancel.stop_requested()) throw TaskCancelled();
                throw S3Failure::invalid(error.what());
            }
            const QByteArray bytes = encode(picture);
            if (cancel.stop_requested()) throw TaskCancelled();
            if (bytes.size() > kMaxUploadBytes) throw S3Failure::invalid("The PNG exceeds the 64 MiB upload limit.");
            auto png = std::make_shared<const std::string>(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            return Encoded{png, sha256Hex(sha256(*png))};
        },
        [this, operation, destination, copyLink, clipID](TaskResult<Encoded>& result) {
            const Encoded& encoded = result.get();
            continueUpload(operation, destination, copyLink, clipID, encoded.png, encoded.digest);
            return isRunning(operation.number);
        });
    return operation;
}

void S3UploadController::continueUpload(const Operation& operation, const S3Settings& destination, bool copyLink,
                                        std::optional<Uuid> clipID, std::shared_ptr<const std::string> png,
                                        const std::string& digest) {
    using State = S3OwnedObject::State;
    const Date now = clock_.now();
    std::optional<S3OwnedObject> record;
    for (const S3OwnedObject& candidate : history_) {
        if ((candidate.state == State::uncertain || (copyLink && candidate.state == State::uploaded)) &&
            candidate.settings == destination && candidate.sha256 == digest &&
            S3History::survivesAutoDelete(candidate, now, defaults_)) {
            record = candidate;
            break;
        }
    }
    if (!record) {
        S3OwnedObject fresh{Uuid::random(), now, destination, "", digest, State::uncertain, std::nullopt};
        fresh.key = destination.objectKey(fresh.createdAt, fresh.id);
        record = fresh;
    }
    if (clipID && !record->clipID) record->clipID = clipID;

    const bool r2 = destination.cloudflareAccountID.has_value();
    std::optional<S3Client> client;
    // Missing keys or a missing login fail here, before anything is written or sent.
    if (record->state != State::uploaded) {
        if (r2)
            cloudflare_->requireLogin();
        else
            client.emplace(loadCredentials(destination));
    }

    const auto stored = std::find_if(history_.begin(), history_.end(), [&](const S3OwnedObject& o) { return o.id == record->id; });
    if (stored == history_.end() || stored->clipID != record->clipID) {
        std::vector<S3OwnedObject> objects = history_;
        const auto entry = std::find_if(objects.begin(), objects.end(), [&](const S3OwnedObject& o) { return o.id == record->id; });
        if (entry != objects.end())
            *entry = *record;
        else
            objects.push_back(*record);
        saveHistory(objects);
    }

    setStatus(QStringLiteral("Uploading. Cancellation or a network error may leave an object; its key is retained for "
                             "verification."));
    const S3OwnedObject uploaded = [&] {
        S3OwnedObject copy = *record;
        copy.state = State::uploaded;
        return copy;
    }();
    if (record->state == State::uploaded) {
        setState(uploaded, State::uploaded);
        setProgress(1.0);
        if (copyLink && copyLinkAfterUpload(operation, uploaded)) return;
        finish(operation.number);
        return;
    }

    report_ = std::make_shared<ProgressReport>();
    progressTimer_->start();
    step(
        operation,
        [client, cloudflare = cloudflare_, record = *record, png, report = report_](std::stop_token cancel) {
            const auto progress = [report](double fraction) {
                report->fraction.store(fraction);
                report->fresh.store(true);
            };
            if (client)
                client->put(record, png, progress, cancel);
            else
                CloudflareR2(*cloudflare).uploadObject(record, png, progress, cancel);
            return true;
        },
        [this, operation, uploaded, copyLink](TaskResult<bool>& result) {
            result.get();
            progressTimer_->stop();
            try {
                setState(uploaded, S3OwnedObject::State::uploaded);
            } catch (...) {
                setStatus(QStringLiteral("The server received the image, but local status could not be saved. The "
                                         "object remains unverified."));
                return false;
            }
            setProgress(1.0);
            if (copyLink) return copyLinkAfterUpload(operation, uploaded);
            else
                setStatus(QStringLiteral("Upload complete. Click Copy link separately; the clipboard is unchanged. "
                                         "Link expiry does not delete the object."));
            return false;
        });
}

bool S3UploadController::copyLinkAfterUpload(const Operation& operation, const S3OwnedObject& record) {
    if (record.settings.cloudflareAccountID) {
        setStatus(QStringLiteral("Checking the public image before copying its link."));
        copyPublicLink(operation, record);
        return true;
    }
    try {
        const std::string link = record.settings.linkMode == S3Settings::LinkMode::publicURL
                                     ? record.settings.publicURL(record.key, allowLoopbackHTTP_)
                                     : loadCredentials(record.settings).link(record);
        writeLink(link);
        setStatus(QStringLiteral("Link copied."));
    } catch (...) {
        fail(std::current_exception());
    }
    return false;
}

void S3UploadController::copyPublicLink(const Operation& operation, const S3OwnedObject& record) {
    step(
        operation,
        [cloudflare = cloudflare_, record](std::stop_token cancel) {
            return CloudflareR2(*cloudflare).checkPublicLink(record, cancel);
        },
        [this](TaskResult<std::string>& result) {
            writeLink(result.get());
            setStatus(QStringLiteral("Link copied."));
            return false;
        });
}

void S3UploadController::writeLink(const std::string& url) {
    PasteboardItem item;
    item.setString(PasteboardType::string, QString::fromStdString(url));
    item.markAsOwnCopy(QStringLiteral("app.brevalto"));
    if (!pasteboard_ || !pasteboard_->write(item)) throw S3Failure::invalid("Could not write the link to the clipboard.");
}

void S3UploadController::copyLink(const Uuid& id) {
    if (busy_) return;
    const S3OwnedObject* record = findRecord(id, true);
    if (record && record->settings.cloudflareAccountID) {
        const S3OwnedObject r2Record = *record;
        const Operation operation =
            begin(QStringLiteral("Checking the public image without credentials before copying its link."));
        return copyPublicLink(operation, r2Record);
    }
    if (!record || record->state != S3OwnedObject::State::uploaded)
        return setStatus(QStringLiteral("No upload has been verified successfully."));
    try {
        const bool publicURL = record->settings.linkMode == S3Settings::LinkMode::publicURL;
        writeLink(publicURL ? record->settings.publicURL(record->key, allowLoopbackHTTP_)
                            : loadCredentials(record->settings).link(*record));
        setStatus(publicURL ? QStringLiteral("Public URL copied. Configure public access on the bucket separately.")
                            : QStringLiteral("Presigned link copied. It grants temporary access; share it only with "
                                             "intended recipients."));
    } catch (...) {
        fail(std::current_exception());
    }
}

void S3UploadController::verify(const Uuid& id) {
    const S3OwnedObject* found = findRecord(id, false);
    if (busy_ || !found) return;
    const S3OwnedObject record = *found;
    const Operation operation = begin(
        QStringLiteral("Verifying the saved object. R2 downloads and hashes the PNG; S3 checks HEAD metadata."));
    try {
        std::optional<S3Client> client;
        if (!record.settings.cloudflareAccountID) client.emplace(loadCredentials(record.settings));
        step(
            operation,
            [client, cloudflare = cloudflare_, record](std::stop_token cancel) {
                return client ? client->headObject(record, cancel) : CloudflareR2(*cloudflare).verifyObject(record, cancel);
            },
            [this, record](TaskResult<bool>& result) {
                if (!result.get()) {
                    setStatus(QStringLiteral("Object not found. No link or new upload was created."));
                    return false;
                }
                setState(record, S3OwnedObject::State::uploaded);
                setStatus(QStringLiteral("Object ownership verified. Copy link and Delete are available."));
                return false;
            });
    } catch (...) {
        fail(std::current_exception());
        finish(operation.number);
    }
}

void S3UploadController::deleteObject(const Uuid& id) {
    const S3OwnedObject* found = findRecord(id, false);
    if (busy_ || !found) return;
    const S3OwnedObject record = *found;
    const std::optional<QString> typed =
        dialogs_.confirmDelete(QString::fromStdString(record.settings.bucket), QString::fromStdString(record.key));
    if (!typed || busy_) return;
    if (typed->toStdString() != record.key)
        return setStatus(QStringLiteral("The key does not match. No object was deleted."));
    const Operation operation = begin(QStringLiteral("Verifying ownership and deleting the confirmed object."));
    try {
        std::optional<S3Client> client;
        if (!record.settings.cloudflareAccountID) client.emplace(loadCredentials(record.settings));
        step(
            operation,
            [client, cloudflare = cloudflare_, record, key = typed->toStdString()](std::stop_token cancel) {
                if (client)
                    client->deleteObject(record, key, cancel);
                else
                    CloudflareR2(*cloudflare).deleteObject(record, key, cancel);
                return true;
            },
            [this, record](TaskResult<bool>& result) {
                result.get();
                setState(record, S3OwnedObject::State::deleted);
                setStatus(QStringLiteral("The object was deleted or is already absent. Local history retains its "
                                         "deleted status."));
                return false;
            });
    } catch (...) {
        fail(std::current_exception());
        finish(operation.number);
    }
}

void S3UploadController::setAutoDelete(int count) {
    if (busy_) return;
    const S3Settings destination = activeSettings();
    const Operation operation =
        begin(count == 0 ? QStringLiteral("Removing the auto-delete rule from the bucket.")
                         : QStringLiteral("Setting the bucket to delete Brevalto uploads after %1.").arg(days(count)));
    try {
        std::optional<S3Client> client;
        if (!destination.cloudflareAccountID) client.emplace(loadCredentials(destination));
        step(
            operation,
            [client, cloudflare = cloudflare_, destination, count](std::stop_token cancel) {
                if (client)
                    client->setLifecycle(count, cancel);
                else
                    CloudflareR2(*cloudflare).setLifecycle(destination, count, cancel);
                return true;
            },
            [this, destination, count](TaskResult<bool>& result) {
                result.get();
                defaults_.set(S3History::lifecycleDaysKey(destination), count);
                emit settingsChanged();
                setStatus(count == 0 ? QStringLiteral("Auto-delete is off. Other lifecycle rules are unchanged.")
                                     : QStringLiteral("The bucket deletes uploads under %1 about %2 after upload, even "
                                                      "when this computer is off.")
                                           .arg(QString::fromStdString(destination.lifecyclePrefix()), days(count)));
                return false;
            });
    } catch (...) {
        fail(std::current_exception());
        finish(operation.number);
    }
}

void S3UploadController::forgetDeleted() {
    if (busy_) return;
    std::vector<S3OwnedObject> kept;
    for (const S3OwnedObject& record : history_)
        if (record.state != S3OwnedObject::State::deleted) kept.push_back(record);
    try {
        saveHistory(kept);
        setStatus(QStringLiteral("Deleted records removed locally. No server request was made."));
    } catch (...) {
        fail(std::current_exception());
    }
}

void S3UploadController::testConnection() {
    if (busy_) return;
    const S3Settings destination = activeSettings();
    const Operation operation = begin(QStringLiteral("Checking the bucket. No upload or bucket policy changes."));
    try {
        if (destination.cloudflareAccountID) {
            step(
                operation,
                [cloudflare = cloudflare_, destination](std::stop_token cancel) {
                    CloudflareR2(*cloudflare).checkDestination(destination, cancel);
                    return true;
                },
                [this](TaskResult<bool>& result) {
                    result.get();
                    setStatus(QStringLiteral("R2 bucket and public-domain configuration are accessible. Upload and "
                                             "Copy link verify image access separately."));
                    return false;
                });
            return;
        }
        const S3Client client = loadCredentials(destination);
        step(
            operation,
            [client](std::stop_token cancel) {
                client.testBucket(cancel);
                return true;
            },
            [this](TaskResult<bool>& result) {
                result.get();
                setStatus(QStringLiteral("Bucket HEAD succeeded. This does not prove PUT, DELETE or public access "
                                         "permissions."));
                return false;
            });
    } catch (...) {
        fail(std::current_exception());
        finish(operation.number);
    }
}

// Cloudflare.

// What one listing found, as far as it got: the account, bucket and domain lists and the R2
// destination they select, and the error that stopped it.
struct S3UploadController::Destinations {
    bool loggedIn = false;
    S3Settings r2;
    std::optional<std::vector<CloudflareAccount>> accounts;
    std::optional<std::vector<CloudflareBucket>> buckets;
    std::optional<std::vector<std::string>> domains;
    std::exception_ptr error;
};

void S3UploadController::connectCloudflare() {
    if (busy_) return;
    const Operation operation = begin(QStringLiteral("Approve Cloudflare access in your browser. Login expires after "
                                                     "three minutes. Tokens are stored only in the keyring."));
    listDestinations(operation, true);
}

void S3UploadController::refreshDestinations(std::optional<std::string> accountID, std::optional<std::string> bucket) {
    if (busy_) return;
    const Operation operation = begin(QStringLiteral("Reading Cloudflare destinations. No bucket policy changes."));
    S3Settings r2 = r2Settings_;
    try {
        if (accountID) {
            if (!contains(accounts_, [&](const CloudflareAccount& a) { return a.id == *accountID; }))
                throw CloudflareFailure("Select a listed account.");
            r2.cloudflareAccountID = *accountID;
            r2.bucket.clear();
            r2.publicBaseURL.clear();
        }
        if (bucket) {
            if (!contains(buckets_, [&](const CloudflareBucket& b) { return b.name == *bucket; }))
                throw CloudflareFailure("Select a listed bucket.");
            if (r2.bucket != *bucket) r2.publicBaseURL.clear();
            r2.bucket = *bucket;
        }
    } catch (...) {
        fail(std::current_exception());
        return finish(operation.number);
    }
    setR2Settings(r2);
    listDestinations(operation, false);
}

void S3UploadController::listDestinations(const Operation& operation, bool login) {
    step(
        operation,
        [cloudflare = cloudflare_, r2 = r2Settings_, login](std::stop_token cancel) {
            Destinations found;
            found.r2 = r2;
            try {
                if (login) {
                    cloudflare->login(cancel);
                    found.loggedIn = true;
                }
                const CloudflareR2 api(*cloudflare);
                found.accounts = api.accounts(cancel);
                const auto kept = std::find_if(found.accounts->begin(), found.accounts->end(), [&](const auto& a) {
                    return r2.cloudflareAccountID && a.id == *r2.cloudflareAccountID;
                });
                if (found.accounts->empty()) throw CloudflareFailure("No authorized Cloudflare account is available.");
                const std::string id = kept != found.accounts->end() ? kept->id : found.accounts->front().id;
                if (found.r2.cloudflareAccountID != id) {
                    found.r2.bucket.clear();
                    found.r2.publicBaseURL.clear();
                }
                found.r2.cloudflareAccountID = id;
                found.r2.endpoint = std::string(cloudflareAPIBaseURL) + "/accounts/" + id + "/r2/buckets";
                found.r2.region = "auto";
                found.r2.addressing = S3Settings::Addressing::path;
                found.r2.linkMode = S3Settings::LinkMode::publicURL;
                found.buckets = api.buckets(id, cancel);
                if (found.buckets->empty())
                    throw CloudflareFailure("No R2 bucket is available. Create one in Cloudflare, then refresh.");
                // After a first login no bucket is chosen yet: the first listed one is.
                if (!contains(*found.buckets, [&](const CloudflareBucket& b) { return b.name == found.r2.bucket; })) {
                    found.r2.bucket = found.buckets->front().name;
                    found.r2.publicBaseURL.clear();
                }
                found.domains = api.publicDomains(found.r2, cancel);
                if (!contains(*found.domains, [&](const std::string& d) { return d == found.r2.publicBaseURL; }))
                    found.r2.publicBaseURL = found.domains->empty() ? std::string() : found.domains->front();
            } catch (const TaskCancelled&) {
                throw;
            } catch (...) {
                found.error = std::current_exception();
            }
            return found;
        },
        [this, login](TaskResult<Destinations>& result) {
            Destinations& found = result.get();
            if (found.loggedIn) setCloudflareConnected(true);
            if (found.accounts) {
                accounts_ = *found.accounts;
                if (found.r2.cloudflareAccountID) defaults_.set(accountIDKey, *found.r2.cloudflareAccountID);
                setR2Settings(found.r2);
            }
            if (found.buckets) buckets_ = *found.buckets;
            publicDomains_ = found.domains.value_or(std::vector<std::string>{});
            emit cloudflareChanged();
            if (found.error) std::rethrow_exception(found.error);
            if (login)
                setStatus(QStringLiteral("Cloudflare connected. Select a bucket and an enabled public domain, then save."));
            else if (!publicDomains_.empty())
                setStatus(QStringLiteral("Destinations refreshed. Save the selected account, bucket and public domain."));
            else
                setStatus(QStringLiteral("This bucket has no enabled public domain. Configure public access in "
                                         "Cloudflare, then refresh. The app never changes bucket policies."));
            return false;
        });
}

void S3UploadController::disconnectCloudflare() {
    if (busy_) return;
    const Operation operation = begin(status_);
    step(
        operation,
        [cloudflare = cloudflare_](std::stop_token cancel) {
            cloudflare->disconnect(cancel);
            return true;
        },
        [this](TaskResult<bool>& result) {
            if (!result.ok()) {
                // A login removed elsewhere cannot be revoked, but it is gone all the same.
                setCloudflareConnected(cloudflare_->connected());
                result.get();
            }
            accounts_.clear();
            buckets_.clear();
            publicDomains_.clear();
            cloudflareConnected_ = false;
            emit cloudflareChanged();
            setStatus(QStringLiteral("Cloudflare session revoked and local tokens removed. Uploaded objects are "
                                     "unchanged."));
            return false;
        });
}

void S3UploadController::saveR2Destination() {
    if (busy_) return;
    try {
        r2Settings_.validate(false);
        if (!contains(publicDomains_, [&](const std::string& d) { return d == r2Settings_.publicBaseURL; }))
            throw CloudflareFailure("Refresh and select an enabled public bucket domain.");
        defaults_.setData(r2SettingsKey, r2Settings_.toJson().dump());
        emit settingsChanged();
        setStatus(QStringLiteral("R2 destination saved. Uploads use this public bucket; anyone with an image URL can "
                                 "access it. Tokens remain in the keyring."));
    } catch (...) {
        fail(std::current_exception());
    }
}

}  // namespace brevalto
