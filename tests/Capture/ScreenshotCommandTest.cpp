#include "Capture/ScreenshotCommand.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

TEST(ScreenshotCommand, RawValuesAreExactAndCaseSensitive) {
    for (const auto command : kAllScreenshotCommands)
        EXPECT_EQ(screenshotCommandFromRaw(rawValue(command)), command);
    struct Case {
        const char* raw;
        std::optional<ScreenshotCommand> command;
    };
    const Case cases[] = {
        {"repeatRegion", ScreenshotCommand::repeatRegion},
        {"importFile", ScreenshotCommand::importFile},
        {"repeat", std::nullopt},
        {"Region", std::nullopt},
        {"region ", std::nullopt},
        {"", std::nullopt},
        {"file", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(screenshotCommandFromRaw(c.raw), c.command) << c.raw;
    EXPECT_EQ(title(ScreenshotCommand::delay), QStringLiteral("Delayed Region"));
    EXPECT_EQ(title(ScreenshotCommand::clipboard), QStringLiteral("Import Clipboard Image"));
}

TEST(ScreenshotCommand, CaptureModeIsTheModeOfTheSameWordElseRegion) {
    const std::pair<ScreenshotCommand, CaptureMode> cases[] = {
        {ScreenshotCommand::region, CaptureMode::region},
        {ScreenshotCommand::window, CaptureMode::window},
        {ScreenshotCommand::activeWindow, CaptureMode::activeWindow},
        {ScreenshotCommand::screen, CaptureMode::screen},
        {ScreenshotCommand::repeatRegion, CaptureMode::repeatRegion},
        {ScreenshotCommand::delay, CaptureMode::region},
        {ScreenshotCommand::ocr, CaptureMode::region},
        {ScreenshotCommand::scrolling, CaptureMode::region},
    };
    for (const auto& [command, mode] : cases) EXPECT_EQ(captureMode(command), mode) << rawValue(command);
}

TEST(ScreenshotFileName, HasTheTimeStampAndARandomSuffix) {
    const QDateTime at(QDate(2026, 3, 7), QTime(9, 5, 4, 32));
    const QString name = screenshotFileName(at);
    EXPECT_TRUE(name.startsWith(QStringLiteral("Screenshot_2026-03-07_09-05-04-032_"))) << name.toStdString();
    static const QRegularExpression form(
        QStringLiteral("^Screenshot_\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}-\\d{3}_[0-9A-F]{6}\\.png$"));
    EXPECT_TRUE(form.match(name).hasMatch()) << name.toStdString();
    EXPECT_TRUE(form.match(screenshotFileName()).hasMatch());

    // Names made in the same millisecond differ in their suffix (24 random bits each; a
    // collision among a handful is out of reach).
    QSet<QString> names;
    for (int i = 0; i < 8; ++i) names.insert(screenshotFileName(at));
    EXPECT_EQ(names.size(), 8);
}

}  // namespace
}  // namespace brevalto
