// The editor view over a real controller, document folder and canvas, with a scripted recognizer,
// dialogs and background work: a 1200 x 800 white capture with a blue block at (100, 100, 200, 100)
// in a view of 1100 x 700.
#pragma once

#include "Document/ScreenshotDocumentSession.h"
#include "Editor/ScreenshotEditorController.h"
#include "Editor/View/EditorToolbar.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "FakePasteboard.h"
#include "FakeTextRecognizer.h"
#include "ManualExecutor.h"
#include "Platform/Defaults.h"
#include "ScriptedOutputDialogs.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QAction>
#include <QCoreApplication>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

namespace brevalto {

class EditorViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(folder / "run");
        std::filesystem::permissions(folder / "run", std::filesystem::perms::owner_all);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString((folder / "run").string()));
        // 1200 x 800 white with a blue block at (100, 100, 200, 100).
        QImage image(1200, 800, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter(&image).fillRect(100, 100, 200, 100, Qt::blue);
        std::ofstream(folder / "clip.png", std::ios::binary) << encodedImage(image, "PNG").toStdString();
        controller.setExecutor(executor);
        controller.setRecognizer(&recognizer);
        controller.open(folder / "clip.png", Uuid::random(), folder / "docs", 1.0);
        executor.runAll();
        // In a host that takes the keyboard on clicks, as the panel does.
        host = std::make_unique<QWidget>();
        host->setFocusPolicy(Qt::StrongFocus);
        view = new ScreenshotEditorView(controller.session(), controller, [this] { ++closed; }, host.get());
        view->setDialogs(dialogs);
        view->resize(1100, 700);
        host->resize(1100, 700);
        host->show();
        settle();
    }
    void settle() {
        executor.runAll();
        QCoreApplication::processEvents();
    }
    ScreenshotDocumentSession& session() { return *controller.session(); }
    template <class T = QWidget>
    T* find(const QString& name) {
        T* found = view->findChild<T*>(name);
        EXPECT_TRUE(found) << name.toStdString();
        return found;
    }
    void click(const QString& name) { QTest::mouseClick(find(name), Qt::LeftButton); }
    QAction* action(const QString& name) {
        view->toolbar()->moreMenu();  // made when first needed
        return view->findChild<QAction*>(name);
    }
    void trigger(const QString& name) {
        ASSERT_TRUE(action(name)) << name.toStdString();
        action(name)->trigger();
        settle();
    }
    std::size_t layers() { return session().document().layers.size(); }

    TestFolder folder;
    Defaults defaults;
    FakePasteboard board;
    FakeTextRecognizer recognizer;
    ManualExecutor executor;
    ScriptedOutputDialogs dialogs;
    ScreenshotEditorController controller{board, defaults};
    std::unique_ptr<QWidget> host;
    ScreenshotEditorView* view = nullptr;
    int closed = 0;
};

}  // namespace brevalto
