#include "Platform/Linux/QtPasteboard.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

TEST(X11TargetsTest, TypesOfferedByTargets) {
    struct Case {
        const char* what;
        QStringList targets;
        QStringList types;
    };
    const Case cases[] = {
        {"any one text target is the plain string", {QStringLiteral("UTF8_STRING")}, {PasteboardType::string}},
        {"Latin-1 STRING too", {QStringLiteral("STRING")}, {PasteboardType::string}},
        {"several text targets give one type",
         {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain")},
         {PasteboardType::string}},
        {"images and files",
         {QStringLiteral("image/png"), QStringLiteral("image/tiff"), QStringLiteral("text/uri-list")},
         {PasteboardType::png, PasteboardType::tiff, PasteboardType::fileURL}},
        {"files copied in a GTK file manager, with their paths as text",
         {QStringLiteral("x-special/gnome-copied-files"), QStringLiteral("UTF8_STRING")},
         {PasteboardType::fileURL, PasteboardType::string}},
        {"protocol targets are no content",
         {QStringLiteral("TARGETS"), QStringLiteral("MULTIPLE"), QStringLiteral("TIMESTAMP"),
          QStringLiteral("SAVE_TARGETS"), QStringLiteral("")},
         {}},
        {"custom types keep their names",
         {QStringLiteral("app.brevalto.restored"), QStringLiteral("org.nspasteboard.source"),
          QStringLiteral("text/html")},
         {QStringLiteral("app.brevalto.restored"), PasteboardType::source, QStringLiteral("text/html")}},
        {"the password hint alone conceals nothing (its value decides)",
         {QStringLiteral("x-kde-passwordManagerHint")},
         {QStringLiteral("x-kde-passwordManagerHint")}},
    };
    for (const auto& c : cases) EXPECT_EQ(X11Targets::typesFor(c.targets), c.types) << c.what;
}

TEST(X11TargetsTest, EveryTargetReadForATypeIsRecognisedAsThatType) {
    for (const QString& type : {PasteboardType::string, PasteboardType::png, PasteboardType::tiff, PasteboardType::fileURL,
                                QStringLiteral("app.brevalto.restored")}) {
        for (const QString& target : X11Targets::forType(type)) {
            EXPECT_EQ(X11Targets::typesFor({target}), QStringList{type}) << target.toStdString();
        }
    }
}

}  // namespace
}  // namespace brevalto
