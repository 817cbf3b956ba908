#include "Capture/ScreenshotCommand.h"

#include "ClipCore/Uuid.h"

namespace brevalto {

namespace {

struct CommandWords {
    ScreenshotCommand command;
    std::string_view raw;
    const char* title;
};

constexpr std::array<CommandWords, 10> kCommands{{
    {ScreenshotCommand::region, "region", "Capture Region"},
    {ScreenshotCommand::window, "window", "Capture Window"},
    {ScreenshotCommand::activeWindow, "activeWindow", "Capture Active Window"},
    {ScreenshotCommand::screen, "screen", "Capture Screen"},
    {ScreenshotCommand::repeatRegion, "repeatRegion", "Repeat Region"},
    {ScreenshotCommand::delay, "delay", "Delayed Region"},
    {ScreenshotCommand::ocr, "ocr", "Capture for OCR"},
    {ScreenshotCommand::scrolling, "scrolling", "Scrolling Capture"},
    {ScreenshotCommand::importFile, "importFile", "Import Image File"},
    {ScreenshotCommand::clipboard, "clipboard", "Import Clipboard Image"},
}};

constexpr bool rowsInDeclarationOrder() {
    for (std::size_t i = 0; i < kCommands.size(); ++i)
        if (static_cast<std::size_t>(kCommands[i].command) != i) return false;
    return true;
}
static_assert(rowsInDeclarationOrder());

// A case indexes its own row.
const CommandWords& wordsOf(ScreenshotCommand command) { return kCommands[static_cast<std::size_t>(command)]; }

}  // namespace

std::string_view rawValue(ScreenshotCommand command) { return wordsOf(command).raw; }

std::optional<ScreenshotCommand> screenshotCommandFromRaw(std::string_view raw) {
    for (const auto& words : kCommands)
        if (words.raw == raw) return words.command;
    return std::nullopt;
}

QString title(ScreenshotCommand command) { return QString::fromUtf8(wordsOf(command).title); }

CaptureMode captureMode(ScreenshotCommand command) {
    const std::string_view raw = rawValue(command);
    return captureModeFromRaw(QString::fromLatin1(raw.data(), static_cast<qsizetype>(raw.size())))
        .value_or(CaptureMode::region);
}

QString screenshotFileName() { return screenshotFileName(QDateTime::currentDateTime()); }

QString screenshotFileName(const QDateTime& localTime) {
    // This overload of toString formats with the C locale, so digits and separators never vary.
    const QString stamp = localTime.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz"));
    const QString suffix = QString::fromStdString(Uuid::random().string().substr(0, 6));
    return QStringLiteral("Screenshot_") + stamp + QLatin1Char('_') + suffix + QStringLiteral(".png");
}

}  // namespace brevalto
