#pragma once

#include <QObject>

namespace brevalto {

// The editing session of one screenshot document, which every editor view binds to.
class ScreenshotDocumentSession : public QObject {
    Q_OBJECT
public:
    explicit ScreenshotDocumentSession(QObject* parent = nullptr);
    ~ScreenshotDocumentSession() override;
};

}  // namespace brevalto
