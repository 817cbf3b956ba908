#include "Automation/IntentService.h"

#include "Automation/AutomationDispatcher.h"
#include "Automation/BrevaltoIntents.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMetaObject>

#include <cstdio>

namespace brevalto {

IntentService::IntentService(AutomationDispatcher& dispatcher, QDBusConnection connection, QObject* parent)
    : QObject(parent), dispatcher_(dispatcher), connection_(std::move(connection)) {}

IntentService::~IntentService() {
    if (named_) connection_.unregisterService(QString::fromLatin1(kServiceName));
    if (registered_) connection_.unregisterObject(QString::fromLatin1(kObjectPath));
}

bool IntentService::publish() {
    if (!connection_.isConnected()) {
        error_ = QStringLiteral("no D-Bus session bus");
        return false;
    }
    // The object first: a call that started the app waits for the name, and finds the object.
    registered_ = connection_.registerObject(QString::fromLatin1(kObjectPath), this,
                                             QDBusConnection::ExportScriptableSlots);
    if (!registered_) {
        error_ = QStringLiteral("the object %1 is taken").arg(QString::fromLatin1(kObjectPath));
        return false;
    }
    named_ = connection_.registerService(QString::fromLatin1(kServiceName));
    if (!named_) {
        error_ = QStringLiteral("the name %1 is taken on the session bus").arg(QString::fromLatin1(kServiceName));
        return false;
    }
    return true;
}

std::unique_ptr<IntentService> IntentService::publishOnSessionBus(AutomationDispatcher& dispatcher) {
    auto service = std::make_unique<IntentService>(dispatcher, QDBusConnection::sessionBus());
    if (service->publish()) return service;
    std::fprintf(stderr, "brevalto: %s; the intents are not offered\n", qPrintable(service->errorString()));
    return nullptr;
}

QString IntentService::errorName(AutomationFailure::Kind kind) {
    switch (kind) {
        case AutomationFailure::Kind::invalid:
            return QStringLiteral("app.brevalto.Error.Invalid");
        case AutomationFailure::Kind::notReady:
            return QStringLiteral("app.brevalto.Error.NotReady");
        case AutomationFailure::Kind::busy:
            return QStringLiteral("app.brevalto.Error.Busy");
        case AutomationFailure::Kind::execution:
            break;
    }
    return QStringLiteral("app.brevalto.Error.Execution");
}

QString IntentService::Capture(const QString& mode, int delaySeconds, const QStringList& postActions, bool append) {
    answerLater([this, mode, delaySeconds, postActions, append] {
        return BrevaltoCaptureIntent::fromWords(mode, delaySeconds, postActions, append).perform(dispatcher_);
    });
    return {};
}

QString IntentService::Open(const QString& destination) {
    answerLater([this, destination] { return BrevaltoOpenIntent::fromWord(destination).perform(dispatcher_); });
    return {};
}

void IntentService::answerLater(std::function<QString()> perform) {
    setDelayedReply(true);
    // The confirmation runs a nested event loop: it runs from the event loop, where a second
    // call can arrive and be answered as busy, rather than inside the delivery of this one.
    QMetaObject::invokeMethod(
        this,
        [this, call = message(), perform = std::move(perform)] {
            QDBusMessage reply;
            try {
                reply = call.createReply(perform());
            } catch (const AutomationFailure& failure) {
                reply = call.createErrorReply(errorName(failure.kind()), QString::fromUtf8(failure.what()));
            }
            connection_.send(reply);
        },
        Qt::QueuedConnection);
}

}  // namespace brevalto
