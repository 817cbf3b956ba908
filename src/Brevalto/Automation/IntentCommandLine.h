#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <variant>

namespace brevalto {

// `brevalto intent …`: runs one of the two intents in the running app over the session bus
// (starting the app through D-Bus activation when none runs) and prints its dialog.
//
//   brevalto intent capture [--mode M] [--delay N] [--after a,b] [--append]
//   brevalto intent open [--destination D]
//   brevalto intent --help
//
// Options left out take the intent's defaults. The words are checked by the app, exactly as for
// a "brevalto:" link; the command line only refuses what it cannot read (an unknown option, a
// delay that is not a number). Exit status: 0 with the dialog on standard output, 1 with the
// failure's sentence on standard error, 2 with the usage text.
class IntentCommandLine {
public:
    static constexpr int kNameWaitMs = 10000;

    struct Help {};
    struct Usage {
        QString problem;
    };
    struct CaptureCall {
        QString mode;
        std::int32_t delaySeconds;
        QStringList postActions;
        bool append;
    };
    struct OpenCall {
        QString destination;
    };
    using Parsed = std::variant<Help, Usage, CaptureCall, OpenCall>;

    // The arguments after "intent".
    static Parsed parse(const QStringList& arguments);

    static QString helpText();
    static QString usageText();

    // `brevalto --help` (or -h) and `brevalto --version`, which the program answers itself, with
    // no display and without asking a running app: the text to print on standard output before
    // exiting 0. None for any other first argument (a link, "intent", anything else).
    static std::optional<QString> programAnswer(const QString& firstArgument, const QString& version);
    static QString programUsageText();

    // Parses, calls and prints; returns the exit status.
    static int run(const QStringList& arguments, QDBusConnection bus);

private:
    static int call(const Parsed& parsed, QDBusConnection& bus);
};

}  // namespace brevalto
