#pragma once

#include "ClipCore/Clip.h"
#include "Platform/Task.h"

#include <QObject>

#include <optional>

namespace brevalto {

// The view model behind the OCR and translation previews and the image-AI workspace.
class AIActionModel : public QObject {
    Q_OBJECT
public:
    explicit AIActionModel(QObject* parent = nullptr);
    ~AIActionModel() override;

    // The clip the model works on, and whether it recognises the text of that clip's image.
    std::optional<Clip> item;
    bool ocr = false;
    // The OCR preview also offers the translation of the recognised text.
    bool showsTranslation = false;

    bool busy() const { return busy_; }
    void setBusy(bool busy);

    // Drops the results of the running request, cancels its task and clears busy. Safe when idle.
    void cancel();

signals:
    void busyChanged(bool busy);

private:
    RequestToken token_;
    TaskHandle work_;
    bool busy_ = false;
};

}  // namespace brevalto
