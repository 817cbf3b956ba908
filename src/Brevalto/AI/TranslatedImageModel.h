#pragma once

#include "Platform/Task.h"

#include <QObject>

namespace brevalto {

// The region translator: an image whose text regions are translated and drawn back into it.
class TranslatedImageModel : public QObject {
    Q_OBJECT
public:
    explicit TranslatedImageModel(QObject* parent = nullptr);
    ~TranslatedImageModel() override;

    bool busy() const { return busy_; }
    void setBusy(bool busy);

    // Drops the results of the running translation, cancels its task and updates the state
    // flags. Safe when idle.
    void cancel();

signals:
    void busyChanged(bool busy);

private:
    RequestToken token_;
    TaskHandle work_;
    bool busy_ = false;
};

}  // namespace brevalto
