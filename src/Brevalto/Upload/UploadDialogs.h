#pragma once

#include <QString>

#include <optional>

namespace brevalto {

// The alerts of uploads, drawn above the notch panel: Qt message boxes by default; tests answer
// from a script.
class UploadDialogs {
public:
    virtual ~UploadDialogs() = default;
    // "Remove S3 keys for this destination?": true for "Remove keys".
    virtual bool confirmRemoveKeys() = 0;
    // "Delete this exact object?" with an "Exact object key" field: the typed text after
    // "Delete object", none for "Cancel".
    virtual std::optional<QString> confirmDelete(const QString& bucket, const QString& key) = 0;
    // "Upload to a public bucket?": true for "Upload"; dontAskAgain tells whether the box was
    // ticked.
    virtual bool confirmPublicUpload(bool& dontAskAgain) = 0;

    static UploadDialogs& system();
};

}  // namespace brevalto
