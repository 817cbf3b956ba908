#include "Upload/S3UploadController.h"
#include "Upload/S3UploadControllerStep.h"

#include "Platform/Clock.h"
#include "Platform/Defaults.h"
#include "Platform/Hashing.h"
#include "Platform/Pasteboard.h"
#include "Upload/S3Failure.h"
#include "Upload/S3History.h"
#include "Upload/UploadDialogs.h"

#include <QTimer>

namespace brevalto {

namespace {

QString days(int count) { return count == 1 ? QStringLiteral("1 day") : QStringLiteral("%1 days").arg(count); }

}  // namespace

// The image as uploaded: its PNG bytes and their digest.
struct S3UploadController::Encoded {
    std::shared_ptr<const std::string> png;
    std::string digest;
};

std::optional<S3UploadController::Operation> S3UploadController::upload(const QImage& image, bool copyLink,
                                                                         std::optional<Uuid> clipID) {
    return upload([image](std::stop_token) { return image; }, copyLink, clipID);
}

std::optional<S3UploadController::Operation> S3UploadController::upload(ImageSource image, bool copyLink,
                                                                         std::optional<Uuid> clipID) {
    if (busy_) return std::nullopt;
    if (!storageAvailable_) {
        setStatus(QString::fromUtf8(S3Failure::storage().what()));
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

}  // namespace brevalto
