#include "Automation/IntentCommandLine.h"

#include "Automation/BrevaltoIntents.h"
#include "Automation/IntentService.h"

#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>

namespace brevalto {

namespace {

QString word(std::string_view raw) { return QString::fromLatin1(raw.data(), static_cast<qsizetype>(raw.size())); }

QString joined(const std::vector<AutomationPostAction>& actions) {
    QStringList words;
    for (const auto action : actions) words << word(rawValue(action));
    return words.join(QLatin1Char(','));
}

// One "  word    title" line of a value table, the titles in one column.
QString row(const QString& left, const QString& right) {
    return QStringLiteral("  ") + left.leftJustified(28) + right + QLatin1Char('\n');
}

// Options take their value as the next argument or after "=".
struct OptionReader {
    explicit OptionReader(const QStringList& all) : arguments(all) {}
    const QStringList& arguments;
    qsizetype next = 1;
    QString name;
    std::optional<QString> inlineValue;

    bool more() const { return next < arguments.size(); }
    void advance() {
        const QString& argument = arguments[next++];
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        name = equals < 0 ? argument : argument.left(equals);
        inlineValue = equals < 0 ? std::nullopt : std::optional<QString>(argument.mid(equals + 1));
    }
    std::optional<QString> value() {
        if (inlineValue) return inlineValue;
        if (!more()) return std::nullopt;
        return arguments[next++];
    }
};

void print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

QDBusMessage busCall(const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), method);
    message.setArguments(arguments);
    return message;
}

// The app's name on the bus, asking the bus to start the app when nobody holds it yet. Another
// start of the app by hand may take the name too: either way, at most kNameWaitMs. (Plain calls
// to the bus: its interface object would listen to the bus's signals until the process ends.)
bool waitForApp(QDBusConnection& bus) {
    const QString name = QString::fromLatin1(IntentService::kServiceName);
    const auto owned = [&] {
        const QDBusMessage reply = bus.call(busCall(QStringLiteral("NameHasOwner"), {name}));
        return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
    };
    if (owned()) return true;
    bus.send(busCall(QStringLiteral("StartServiceByName"), {name, 0u}));
    const QDeadlineTimer deadline(IntentCommandLine::kNameWaitMs);
    while (!deadline.hasExpired()) {
        QThread::msleep(50);
        if (owned()) return true;
    }
    return false;
}

}  // namespace

IntentCommandLine::Parsed IntentCommandLine::parse(const QStringList& arguments) {
    if (arguments.isEmpty()) return Usage{QStringLiteral("which intent?")};
    const QString& intent = arguments.front();
    if (intent == QLatin1String("--help") || intent == QLatin1String("-h")) return Help{};
    if (intent != QLatin1String("capture") && intent != QLatin1String("open"))
        return Usage{QStringLiteral("unknown intent \"%1\"").arg(intent)};

    const BrevaltoCaptureIntent captureDefaults;
    CaptureCall capture{word(rawValue(captureDefaults.mode)), static_cast<std::int32_t>(captureDefaults.delaySeconds),
                        {}, captureDefaults.append};
    for (const auto action : captureDefaults.postActions) capture.postActions << word(rawValue(action));
    OpenCall open{word(rawValue(BrevaltoOpenIntent{}.destination))};

    const QStringList allowed = intent == QLatin1String("capture")
                                    ? QStringList{QStringLiteral("--mode"), QStringLiteral("--delay"),
                                                  QStringLiteral("--after"), QStringLiteral("--append")}
                                    : QStringList{QStringLiteral("--destination")};
    QStringList seen;
    OptionReader reader(arguments);
    while (reader.more()) {
        reader.advance();
        const QString& name = reader.name;
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) return Help{};
        if (!allowed.contains(name)) return Usage{QStringLiteral("unknown option \"%1\"").arg(name)};
        if (seen.contains(name)) return Usage{QStringLiteral("%1 given twice").arg(name)};
        seen << name;
        if (name == QLatin1String("--append")) {
            if (reader.inlineValue) return Usage{QStringLiteral("--append takes no value")};
            capture.append = true;
            continue;
        }
        const auto value = reader.value();
        if (!value) return Usage{QStringLiteral("%1 needs a value").arg(name)};
        if (name == QLatin1String("--mode")) {
            capture.mode = *value;
        } else if (name == QLatin1String("--delay")) {
            bool number = false;
            const qlonglong delay = value->toLongLong(&number);
            if (!number) return Usage{QStringLiteral("the delay \"%1\" is not a number").arg(*value)};
            // Out of range either way: the app refuses it like any delay above 60.
            capture.delaySeconds = static_cast<std::int32_t>(std::clamp<qlonglong>(
                delay, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
        } else if (name == QLatin1String("--after")) {
            capture.postActions = value->isEmpty() ? QStringList() : value->split(QLatin1Char(','));
        } else {
            open.destination = *value;
        }
    }
    if (intent == QLatin1String("capture")) return capture;
    return open;
}

QString IntentCommandLine::usageText() {
    return QStringLiteral(
        "Usage: brevalto intent capture [--mode MODE] [--delay SECONDS] [--after ACTIONS] [--append]\n"
        "       brevalto intent open [--destination DESTINATION]\n"
        "       brevalto intent --help\n");
}

QString IntentCommandLine::programUsageText() {
    return QStringLiteral(
        "Usage: brevalto [LINK]\n"
        "       brevalto intent capture [--mode MODE] [--delay SECONDS] [--after ACTIONS] [--append]\n"
        "       brevalto intent open [--destination DESTINATION]\n"
        "       brevalto --help | --version\n"
        "\n"
        "Starts Brevalto, or hands LINK to the running app. LINK is a \"brevalto:\" link, such as\n"
        "brevalto://capture?mode=region&delay=3&after=copy,save or brevalto://history.\n"
        "Run \"brevalto intent --help\" for the intents and their values.\n");
}

std::optional<QString> IntentCommandLine::programAnswer(const QString& firstArgument, const QString& version) {
    if (firstArgument == QLatin1String("--help") || firstArgument == QLatin1String("-h")) return programUsageText();
    if (firstArgument == QLatin1String("--version")) return QStringLiteral("brevalto %1\n").arg(version);
    return std::nullopt;
}

QString IntentCommandLine::helpText() {
    const BrevaltoCaptureIntent capture;
    const BrevaltoOpenIntent open;
    const auto shortcuts = brevaltoShortcuts();
    QString text = usageText();
    text += QStringLiteral(
        "\nRuns an intent in Brevalto (starting the app when it is not running) with the same checks\n"
        "and confirmation as a \"brevalto:\" link, and prints the app's answer.\n\n");

    text += QStringLiteral("capture: ") + BrevaltoCaptureIntent::title() + QLatin1Char('\n');
    text += row(QStringLiteral("--mode MODE"),
                BrevaltoCaptureIntent::modeTitle() + QStringLiteral(" (default: %1)").arg(word(rawValue(capture.mode))));
    text += row(QStringLiteral("--delay SECONDS"),
                BrevaltoCaptureIntent::delayTitle() +
                    QStringLiteral(" (default: %1; a delayed region waits 3 s)").arg(capture.delaySeconds));
    text += row(QStringLiteral("--after ACTIONS"), BrevaltoCaptureIntent::postActionsTitle() +
                                                       QStringLiteral(", comma-separated (default: %1)")
                                                           .arg(joined(capture.postActions)));
    text += row(QStringLiteral("--append"), BrevaltoCaptureIntent::appendTitle() +
                                                QStringLiteral(" (default: %1)").arg(capture.append ? "on" : "off"));
    text += QStringLiteral("\nopen: ") + BrevaltoOpenIntent::title() + QLatin1Char('\n');
    text += row(QStringLiteral("--destination DESTINATION"),
                BrevaltoOpenIntent::destinationTitle() +
                    QStringLiteral(" (default: %1)").arg(word(rawValue(open.destination))));

    text += QStringLiteral("\n") + IntentValueTitles::captureModeType() + QStringLiteral(" (MODE):\n");
    for (const auto mode : kAllAutomationCaptureModes) text += row(word(rawValue(mode)), IntentValueTitles::title(mode));
    text += QStringLiteral("\n") + IntentValueTitles::postActionType() + QStringLiteral(" (ACTIONS):\n");
    for (const auto action : kAllAutomationPostActions)
        text += row(word(rawValue(action)), IntentValueTitles::title(action));
    text += QStringLiteral("\n") + IntentValueTitles::openDestinationType() + QStringLiteral(" (DESTINATION):\n");
    for (const auto destination : kAllBrevaltoOpenDestinations)
        text += row(word(rawValue(destination)), IntentValueTitles::title(destination));

    text += QStringLiteral("\nShortcuts (the desktop entry's actions), each with its intent's defaults:\n");
    for (const auto& shortcut : shortcuts)
        text += row(QLatin1Char('"') + shortcut.phrase + QLatin1Char('"'), shortcut.shortTitle);
    return text;
}

int IntentCommandLine::run(const QStringList& arguments, QDBusConnection bus) {
    const Parsed parsed = parse(arguments);
    if (std::holds_alternative<Help>(parsed)) {
        print(stdout, helpText());
        return 0;
    }
    if (const auto* usage = std::get_if<Usage>(&parsed)) {
        print(stderr, QStringLiteral("brevalto intent: %1\n").arg(usage->problem) + usageText() +
                          QStringLiteral("Run \"brevalto intent --help\" for the intents and their values.\n"));
        return 2;
    }
    if (!bus.isConnected()) {
        print(stderr, QStringLiteral("Brevalto intents need a D-Bus session bus.\n"));
        return 1;
    }
    return call(parsed, bus);
}

int IntentCommandLine::call(const Parsed& parsed, QDBusConnection& bus) {
    if (!waitForApp(bus)) {
        print(stderr, QStringLiteral("Brevalto did not start within 10 s. Start it and try again.\n"));
        return 1;
    }
    const bool capture = std::holds_alternative<CaptureCall>(parsed);
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(IntentService::kServiceName), QString::fromLatin1(IntentService::kObjectPath),
        QString::fromLatin1(IntentService::kInterface), capture ? QStringLiteral("Capture") : QStringLiteral("Open"));
    if (const auto* c = std::get_if<CaptureCall>(&parsed))
        message << c->mode << c->delaySeconds << c->postActions << c->append;
    else
        message << std::get<OpenCall>(parsed).destination;

    // The answer comes once the user has answered the confirmation, however long that takes.
    const QDBusMessage reply = bus.call(message, QDBus::Block, std::numeric_limits<int>::max());
    if (reply.type() == QDBusMessage::ReplyMessage) {
        print(stdout, reply.arguments().value(0).toString() + QLatin1Char('\n'));
        return 0;
    }
    if (reply.errorName().startsWith(QLatin1String("app.brevalto.Error.")))
        print(stderr, reply.errorMessage() + QLatin1Char('\n'));
    else
        print(stderr, QStringLiteral("Brevalto did not answer: %1\n").arg(reply.errorMessage()));
    return 1;
}

}  // namespace brevalto
