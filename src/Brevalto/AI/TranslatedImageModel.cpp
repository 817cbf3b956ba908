#include "AI/TranslatedImageModel.h"

namespace brevalto {

TranslatedImageModel::TranslatedImageModel(QObject* parent) : QObject(parent) {}

TranslatedImageModel::~TranslatedImageModel() {
    work_.cancel();
}

void TranslatedImageModel::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    emit busyChanged(busy_);
}

void TranslatedImageModel::cancel() {
    token_.invalidate();
    work_.cancel();
    work_ = TaskHandle();
    setBusy(false);
}

}  // namespace brevalto
