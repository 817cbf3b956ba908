#include "AI/AIActionModel.h"

namespace brevalto {

AIActionModel::AIActionModel(QObject* parent) : QObject(parent) {}

AIActionModel::~AIActionModel() {
    work_.cancel();
}

void AIActionModel::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    emit busyChanged(busy_);
}

void AIActionModel::cancel() {
    token_.invalidate();
    work_.cancel();
    work_ = TaskHandle();
    setBusy(false);
}

}  // namespace brevalto
