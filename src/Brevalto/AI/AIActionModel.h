#pragma once

#include "Platform/Task.h"

#include <QObject>

namespace brevalto {

// The view model behind the OCR and translation previews and the image-AI workspace.
class AIActionModel : public QObject {
    Q_OBJECT
public:
    explicit AIActionModel(QObject* parent = nullptr);
    ~AIActionModel() override;

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
