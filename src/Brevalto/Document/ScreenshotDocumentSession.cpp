#include "Document/ScreenshotDocumentSession.h"

namespace brevalto {

ScreenshotDocumentSession::ScreenshotDocumentSession(QObject* parent) : QObject(parent) {}

ScreenshotDocumentSession::~ScreenshotDocumentSession() = default;

}  // namespace brevalto
