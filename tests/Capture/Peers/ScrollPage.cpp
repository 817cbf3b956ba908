// A window of another process that shows a tall known page and scrolls it by a fixed step per
// wheel click. Arguments: width height pageHeight [picture|numbered|sparse|code|bars], the last the
// kind of page (a picture unless given; lines of text 18 rows apart otherwise; bars: numbered lines
// under a sticky header and over a footer fixed to the bottom of the view). Once shown it prints
// "ready x y width height" (its client area in root pixels) on one line. The picture is drawn a
// band at a time when the band first comes into view, so that a tall page shows at once.
#include "ScrollBars.h"
#include "ScrollPage.h"

#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

class PageWindow : public QWidget {
public:
    // `rows` draws the page's rows from a top row on, as many as asked for.
    // `bars`, when given, draws over the view what stays put while the page scrolls.
    PageWindow(int width, int height, int pageHeight, std::function<QImage(int top, int count)> rows,
               std::function<void(QPainter&, QSize)> bars)
        : pageHeight_(pageHeight), rows_(std::move(rows)), bars_(std::move(bars)),
          bands_(std::size_t((pageHeight + kBand - 1) / kBand)) {
        setFixedSize(width, height);
        setWindowTitle(QStringLiteral("Scroll Page"));
        QTimer::singleShot(300, this, [this] {
            const QPoint at = mapToGlobal(QPoint(0, 0));
            std::printf("ready %d %d %d %d\n", at.x(), at.y(), this->width(), this->height());
            std::fflush(stdout);
        });
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        for (int band = offset_ / kBand; band * kBand < std::min(offset_ + height(), pageHeight_); ++band)
            painter.drawImage(QPoint(0, band * kBand - offset_), bandImage(band));
        if (bars_) bars_(painter, size());
    }
    void wheelEvent(QWheelEvent* event) override {
        const int clicks = event->angleDelta().y() / 120;
        offset_ = std::clamp(offset_ - clicks * brevalto::kScrollPageStep, 0, pageHeight_ - height());
        update();
    }

private:
    static constexpr int kBand = 128;

    const QImage& bandImage(int band) {
        QImage& image = bands_[std::size_t(band)];
        if (image.isNull()) image = rows_(band * kBand, std::min(kBand, pageHeight_ - band * kBand));
        return image;
    }

    int pageHeight_;
    std::function<QImage(int, int)> rows_;
    std::function<void(QPainter&, QSize)> bars_;
    std::vector<QImage> bands_;
    int offset_ = 0;
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const auto arg = [&](int i) { return std::atoi(argv[std::min(i, argc - 1)]); };
    const int width = argc > 3 ? arg(1) : 320, pageHeight = argc > 3 ? arg(3) : 2000;
    const QString kind = argc > 4 ? QString::fromLatin1(argv[4]) : QString();
    using brevalto::ScrollText;
    std::function<QImage(int, int)> rows = [width](int top, int count) { return brevalto::scrollPageRows(width, top, count); };
    const bool code = kind == QLatin1String("code");
    std::function<void(QPainter&, QSize)> bars;
    if (kind == QLatin1String("bars")) {
        const QImage page = brevalto::scrollBarsContent(width, pageHeight);
        rows = [page](int top, int count) { return page.copy(0, top, page.width(), count); };
        bars = brevalto::drawScrollBars;
    } else if (code || kind == QLatin1String("numbered") || kind == QLatin1String("sparse")) {
        const QImage page = code ? brevalto::scrollCodePageImage(width, pageHeight, 18)
                                 : scrollTextPageImage(kind == QLatin1String("numbered") ? ScrollText::numbered : ScrollText::sparse,
                                                       width, pageHeight, 18);
        rows = [page](int top, int count) { return page.copy(0, top, page.width(), count); };
    }
    PageWindow window(width, argc > 3 ? arg(2) : 400, pageHeight, std::move(rows), std::move(bars));
    window.show();
    return app.exec();
}
