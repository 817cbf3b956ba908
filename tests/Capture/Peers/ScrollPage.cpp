// A window of another process that shows a tall known page and scrolls it by a fixed step per
// wheel click. Arguments: width height pageHeight [picture|numbered|sparse], the last the kind of
// page (a picture unless given; lines of text 18 rows apart otherwise). Once shown it prints
// "ready x y width height" (its client area in root pixels) on one line.
#include "ScrollPage.h"

#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

#include <cstdio>
#include <utility>

class PageWindow : public QWidget {
public:
    PageWindow(int width, int height, QImage page) : page_(std::move(page)) {
        setFixedSize(width, height);
        setWindowTitle(QStringLiteral("Scroll Page"));
        QTimer::singleShot(300, this, [this] {
            const QPoint at = mapToGlobal(QPoint(0, 0));
            std::printf("ready %d %d %d %d\n", at.x(), at.y(), this->width(), this->height());
            std::fflush(stdout);
        });
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(QPoint(0, 0), page_, QRect(0, offset_, width(), height())); }
    void wheelEvent(QWheelEvent* event) override {
        const int clicks = event->angleDelta().y() / 120;
        offset_ = std::clamp(offset_ - clicks * brevalto::kScrollPageStep, 0, page_.height() - height());
        update();
    }

private:
    QImage page_;
    int offset_ = 0;
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const auto arg = [&](int i) { return std::atoi(argv[std::min(i, argc - 1)]); };
    const int width = argc > 3 ? arg(1) : 320, pageHeight = argc > 3 ? arg(3) : 2000;
    const QString kind = argc > 4 ? QString::fromLatin1(argv[4]) : QString();
    using brevalto::ScrollText;
    PageWindow window(width, argc > 3 ? arg(2) : 400,
                      kind == QLatin1String("numbered") ? scrollTextPageImage(ScrollText::numbered, width, pageHeight, 18)
                      : kind == QLatin1String("sparse") ? scrollTextPageImage(ScrollText::sparse, width, pageHeight, 18)
                                                        : brevalto::scrollPageImage(width, pageHeight));
    window.show();
    return app.exec();
}
