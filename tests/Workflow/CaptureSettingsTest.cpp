#include "Workflow/CaptureSettings.h"

#include "Platform/Defaults.h"
#include "TestFolder.h"

#include <QStandardPaths>

#include <cstdlib>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

using Value = Defaults::Value;

// One stored value (or none) and what the reader makes of it.
template <typename T>
struct Case {
    std::optional<Value> stored;
    T expected;
};

template <typename T, typename Reader>
void expectReads(std::string_view key, Reader reader, const std::vector<Case<T>>& cases) {
    for (const auto& c : cases) {
        Defaults defaults;
        if (c.stored) defaults.set(key, *c.stored);
        SCOPED_TRACE(std::string(key) + " = " + (c.stored ? c.stored->dump() : "absent"));
        EXPECT_EQ(reader(defaults), c.expected);
    }
}

TEST(CaptureSettings, BooleansReadWithTheirDefaults) {
    expectReads<bool>(CaptureSettings::cursorKey, CaptureSettings::includesCursor,
                      {{std::nullopt, false}, {true, true}, {false, false}, {"YES", true}, {1, true}, {"no", false}});
    expectReads<bool>(CaptureSettings::autoCopyKey, CaptureSettings::autoCopy, {{std::nullopt, false}, {true, true}});
    expectReads<bool>(CaptureSettings::autoSaveKey, CaptureSettings::autoSave, {{std::nullopt, false}, {"true", true}});
    // Shadows: only a stored Bool counts; anything else keeps them.
    expectReads<bool>(CaptureSettings::shadowKey, CaptureSettings::shadows,
                      {{std::nullopt, true}, {false, false}, {true, true}, {0, false}, {"NO", true}, {"false", true},
                       {7, true}, {0.0, true}, {Value::array(), true}});
}

TEST(CaptureSettings, DelayIsClampedToOneThroughSixty) {
    expectReads<int>(CaptureSettings::delayKey, CaptureSettings::delaySeconds,
                     {{std::nullopt, 5}, {0, 1}, {-4, 1}, {1, 1}, {5, 5}, {60, 60}, {500, 60}, {7.9, 7}, {"12", 12},
                      {INT64_MAX, 60}, {INT64_MIN, 1}, {true, 1}});
}

TEST(CaptureSettings, StringsFolderAndFollowUp) {
    expectReads<std::optional<std::filesystem::path>>(
        CaptureSettings::folderKey, CaptureSettings::folder,
        {{std::nullopt, std::nullopt}, {"", std::nullopt}, {"/home/me/Shots", std::filesystem::path("/home/me/Shots")}});
    expectReads<bool>(CaptureSettings::afterKey, CaptureSettings::opensEditorAfterCapture,
                      {{std::nullopt, false}, {"editor", true}, {"Editor", false}, {"thumbnail", false}, {true, false}});
}

TEST(CaptureSettings, BackgroundWordsAreExact) {
    expectReads<CaptureBackground>(CaptureSettings::backgroundKey, CaptureSettings::background,
                                   {{std::nullopt, CaptureBackground::transparent},
                                    {"solid", CaptureBackground::solid},
                                    {"wallpaper", CaptureBackground::wallpaper},
                                    {"Solid", CaptureBackground::transparent},
                                    {"solid ", CaptureBackground::transparent},
                                    {"transparent", CaptureBackground::transparent},
                                    {1, CaptureBackground::transparent}});
}

TEST(CaptureSettings, ThumbnailTimeoutNeedsAStoredNumber) {
    expectReads<std::optional<double>>(CaptureSettings::thumbnailTimeoutKey, CaptureSettings::thumbnailTimeout,
                                       {{std::nullopt, 12.0},
                                        {3.5, 3.5},
                                        {30, 30.0},
                                        {0.0, std::nullopt},
                                        {-5, std::nullopt},
                                        {"20", 12.0},
                                        {true, 12.0}});
}

TEST(CaptureSettings, LastEditorClipMustBeAUuid) {
    const Uuid id = *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    expectReads<std::optional<Uuid>>(CaptureSettings::lastEditorClipIDKey, CaptureSettings::lastEditorClipID,
                                     {{std::nullopt, std::nullopt},
                                      {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F", id},
                                      {"e621e1f8-c36c-495a-93fc-0c247a3e6e5f", id},
                                      {"not a uuid", std::nullopt},
                                      {42, std::nullopt}});
}

// Save dialogs start in the auto-save folder when it is set and there, else in Pictures when
// there is one, else at home.
TEST(CaptureSettings, SaveDialogsStartInTheAutoSaveFolderThenPicturesThenHome) {
    TestFolder home;
    const std::string previousHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const std::string previousConfig = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    Defaults defaults;
    EXPECT_EQ(CaptureSettings::saveDialogFolder(defaults), home.path());
    std::filesystem::create_directory(home / "Pictures");
    EXPECT_EQ(CaptureSettings::saveDialogFolder(defaults), home / "Pictures");
    defaults.set(CaptureSettings::folderKey, (home / "gone").string());
    EXPECT_EQ(CaptureSettings::saveDialogFolder(defaults), home / "Pictures");
    std::filesystem::create_directory(home / "shots");
    defaults.set(CaptureSettings::folderKey, (home / "shots").string());
    EXPECT_EQ(CaptureSettings::saveDialogFolder(defaults), home / "shots");
    ::setenv("HOME", previousHome.c_str(), 1);
    if (previousConfig.empty()) ::unsetenv("XDG_CONFIG_HOME");
    else ::setenv("XDG_CONFIG_HOME", previousConfig.c_str(), 1);
}

}  // namespace
}  // namespace brevalto
