#include "Editor/View/ScreenshotShareButton.h"

#include "ClipCore/Uuid.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "Errors/ScreenshotError.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMenu>
#include <QUrl>

#include <vector>

namespace brevalto {

namespace {

QByteArray png(const QImage& image) {
    return ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, Qt::white, false, 1, 0.9);
}

// The share files of this run, removed at quit.
std::vector<std::filesystem::path>& shareFiles() {
    static std::vector<std::filesystem::path> files;
    static const bool hooked = [] {
        if (auto* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [] {
                for (const auto& file : shareFiles()) AtomicFile::removeFile(file);
                shareFiles().clear();
            });
        return true;
    }();
    (void)hooked;
    return files;
}

}  // namespace

ScreenshotShareButton::ScreenshotShareButton(ScreenshotEditorView& view, QWidget* parent)
    : EditorIconButton(QStringLiteral("square.and.arrow.up"), QStringLiteral("Share"), QStringLiteral("share"), parent),
      view_(view) {
    connect(this, &QAbstractButton::clicked, this, &ScreenshotShareButton::share);
}

QMenu* ScreenshotShareButton::menu() {
    if (menu_) return menu_;
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("shareMenu"));
    QAction* copy = menu_->addAction(QStringLiteral("Copy image"));
    copy->setObjectName(QStringLiteral("shareCopyImage"));
    connect(copy, &QAction::triggered, this, [this] {
        if (!view_.controller()) return;
        view_.attemptOutput(ScreenshotEditorView::Output::copy, [this] {
            ScreenshotOutput::copyImage(shared_, view_.controller()->board());
            view_.session().setStatus(ScreenshotEditorView::copiedImageStatus);
        });
    });
    QAction* save = menu_->addAction(QStringLiteral("Save As\u2026"));
    save->setObjectName(QStringLiteral("shareSaveAs"));
    connect(save, &QAction::triggered, this, [this] {
        view_.attemptOutput(ScreenshotEditorView::Output::save, [this] {
            const auto saved = ScreenshotOutput::save(png(shared_), ScreenshotOutput::ContentType::png,
                                                      QStringLiteral("Screenshot"), view_.dialogs(),
                                                      view_.controller()->saveFolder());
            if (saved) view_.session().setStatus(ScreenshotEditorView::savedStatus(*saved));
        });
    });
    QAction* open = menu_->addAction(QStringLiteral("Open with default app"));
    open->setObjectName(QStringLiteral("shareOpen"));
    connect(open, &QAction::triggered, this,
            [this] { view_.attemptOutput(ScreenshotEditorView::Output::share, [this] { openWithDefaultApp(); }); });
    return menu_;
}

void ScreenshotShareButton::share() {
    if (!image) return;
    try {
        shared_ = image();
    } catch (const std::exception& error) {
        if (failed) failed(error);
        return;
    }
    menu()->popup(mapToGlobal(QPoint(0, height())));
}

std::filesystem::path ScreenshotShareButton::writeShareFile(const QImage& image, const std::filesystem::path& folder) {
    const std::filesystem::path file = folder / ("Brevalto-Share-" + Uuid::random().string() + ".png");
    AtomicFile::write(file, png(image));
    shareFiles().push_back(file);
    return file;
}

void ScreenshotShareButton::openWithDefaultApp() {
    const std::filesystem::path file = writeShareFile(shared_, AppPaths::temporaryRoot());
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string()))))
        throw ScreenshotError(openFailedMessage.toStdString());
}

}  // namespace brevalto
