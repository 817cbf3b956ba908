#pragma once

#include "Automation/AutomationFailure.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QDBusMessage;

namespace brevalto {

class AutomationDispatcher;

// The two intents on the session bus: service "app.brevalto", object "/app/brevalto", interface
// "app.brevalto.Intents":
//   Capture(s mode, i delaySeconds, as postActions, b append) -> s dialog
//   Open(s destination) -> s dialog
// Values are the raw words ("activeWindow", "copy", "history"). A failure is the error
// "app.brevalto.Error.Invalid", ".Busy", ".NotReady" or ".Execution" carrying the failure's
// sentence, and nothing else.
//
// A call is answered when its dispatch is over, however long the confirmation stays open, so a
// second call meanwhile is refused as busy. The dispatch runs from the event loop, not inside the
// bus's delivery; an answer to a caller that has left goes nowhere.
class IntentService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brevalto.Intents")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"app.brevalto.Intents\">\n"
                "    <method name=\"Capture\">\n"
                "      <arg name=\"mode\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"delaySeconds\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"postActions\" type=\"as\" direction=\"in\"/>\n"
                "      <arg name=\"append\" type=\"b\" direction=\"in\"/>\n"
                "      <arg name=\"dialog\" type=\"s\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"Open\">\n"
                "      <arg name=\"destination\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"dialog\" type=\"s\" direction=\"out\"/>\n"
                "    </method>\n"
                "  </interface>\n")
public:
    static constexpr const char* kServiceName = "app.brevalto";
    static constexpr const char* kObjectPath = "/app/brevalto";
    static constexpr const char* kInterface = "app.brevalto.Intents";

    IntentService(AutomationDispatcher& dispatcher, QDBusConnection connection, QObject* parent = nullptr);
    ~IntentService() override;

    // Offers the interface on the connection and takes the service name; false, with
    // errorString, when there is no bus or the name belongs to someone else.
    bool publish();
    const QString& errorString() const { return error_; }

    // The session bus's service for the app, or none (said once on standard error).
    static std::unique_ptr<IntentService> publishOnSessionBus(AutomationDispatcher& dispatcher);

    static QString errorName(AutomationFailure::Kind kind);

public slots:
    Q_SCRIPTABLE QString Capture(const QString& mode, int delaySeconds, const QStringList& postActions, bool append);
    Q_SCRIPTABLE QString Open(const QString& destination);

private:
    void answerLater(std::function<QString()> perform);

    AutomationDispatcher& dispatcher_;
    QDBusConnection connection_;
    bool registered_ = false;
    bool named_ = false;
    QString error_;
};

}  // namespace brevalto
