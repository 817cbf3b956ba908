#pragma once

#include "Platform/Task.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <optional>
#include <string>

namespace brevalto {

class Defaults;
class Pasteboard;

// Runs uploads of finished images and keeps their history ("uploads.json" in the history
// folder). One instance lives for the whole run of the app.
class S3UploadController : public QObject {
    Q_OBJECT
public:
    S3UploadController(Pasteboard* pasteboard, Defaults& defaults, std::string keychainService,
                       std::filesystem::path historyFile, QObject* parent = nullptr);

    // The keychain service of upload keys: the app's identifier followed by ".S3".
    static std::string defaultKeychainService();

    const QString& status() const { return status_; }
    bool busy() const { return busy_; }
    const std::filesystem::path& historyFile() const { return historyFile_; }
    const std::string& keychainService() const { return keychainService_; }

    // The running operation, if any.
    std::optional<TaskHandle> work;

    // Cancels the running operation, if any, and says so in the status line.
    void cancelRunningOperation();

signals:
    void statusChanged();
    void busyChanged();

private:
    void setStatus(const QString& status);

    Pasteboard* pasteboard_;
    Defaults& defaults_;
    std::string keychainService_;
    std::filesystem::path historyFile_;
    QString status_;
    bool busy_ = false;
};

}  // namespace brevalto
