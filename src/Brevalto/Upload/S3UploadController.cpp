#include "Upload/S3UploadController.h"

#include "Upload/S3Failure.h"
#include "Upload/S3Keychain.h"

namespace brevalto {

S3UploadController::S3UploadController(Pasteboard* pasteboard, Defaults& defaults, std::string keychainService,
                                       std::filesystem::path historyFile, QObject* parent)
    : QObject(parent),
      pasteboard_(pasteboard),
      defaults_(defaults),
      keychainService_(std::move(keychainService)),
      historyFile_(std::move(historyFile)) {}

std::string S3UploadController::defaultKeychainService() { return S3Keychain::defaultService(); }

void S3UploadController::cancelRunningOperation() {
    if (!work) return;
    work->cancel();
    work.reset();
    setStatus(QString::fromUtf8(S3Failure::cancelled().what()));
    if (busy_) {
        busy_ = false;
        emit busyChanged();
    }
}

void S3UploadController::setStatus(const QString& status) {
    if (status_ == status) return;
    status_ = status;
    emit statusChanged();
}

}  // namespace brevalto
