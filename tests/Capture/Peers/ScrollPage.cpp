// A window of another process that shows a tall known page and scrolls it by a fixed step per
// wheel click. Arguments: width height pageHeight. Once shown it prints "ready x y width height"
// (its client area in root pixels) on one line.
#include "ScrollPage.h"

#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

#include <cstdio>

namespace {

class PageWindow : public QWidget {
public:
    PageWindow(int width, int height, int pageHeight) : page_(brevalto::scrollPageImage(width, pageHeight)) {
        setFixedSize(width, height);
        setWindowTitle(QStringLiteral("Scroll Page"));
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(QPoint(0, 0), page_, QRect(0, offset_, width(), height()));
    }
    void wheelEvent(QWheelEvent* event) override {
        const int clicks = event->angleDelta().y() / 120;
        offset_ = std::clamp(offset_ - clicks * brevalto::kScrollPageStep, 0, page_.height() - height());
        update();
    }
    void showEvent(QShowEvent*) override {
        QTimer::singleShot(300, this, [this] {
            const QPoint at = mapToGlobal(QPoint(0, 0));
            std::printf("ready %d %d %d %d\n", at.x(), at.y(), width(), height());
            std::fflush(stdout);
        });
    }

private:
    QImage page_;
    int offset_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const auto arg = [&](int i, int fallback) { return argc > i ? std::atoi(argv[i]) : fallback; };
    PageWindow window(arg(1, 320), arg(2, 400), arg(3, 2000));
    window.show();
    return app.exec();
}
