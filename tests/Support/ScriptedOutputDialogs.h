#pragma once

#include "Document/ScreenshotOutput.h"

#include <QObject>
#include <QPrinter>
#include <QString>
#include <QUrl>

#include <filesystem>
#include <optional>
#include <vector>

namespace brevalto {

// Save and print dialogs that answer as the test says and remember what they were asked: the
// save dialog gives `answer` (none: cancelled); the print dialog prints to `pdf` when set.
class ScriptedOutputDialogs final : public ScreenshotOutput::Dialogs {
public:
    std::optional<QUrl> chooseSaveFile(ScreenshotOutput::ContentType type, const QString& proposedName,
                                       const std::filesystem::path& startFolder) override {
        types.push_back(type);
        proposed = proposedName;
        folder = startFolder;
        return answer;
    }
    bool confirmPrint(QPrinter& printer) override {
        if (!pdf) return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(*pdf);
        return true;
    }

    std::optional<QUrl> answer;
    std::optional<QString> pdf;
    QString proposed;
    std::filesystem::path folder;
    std::vector<ScreenshotOutput::ContentType> types;
};

// Receives the URLs handed to the desktop (QDesktopServices::setUrlHandler with "open").
class UrlOpener : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { opened.push_back(url); }

public:
    std::vector<QUrl> opened;
};

}  // namespace brevalto
