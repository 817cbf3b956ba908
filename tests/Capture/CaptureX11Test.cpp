// Capture against a real X server (Xvfb with openbox): windows of known colour belong to another
// "application" (their own connection and a foreign process id); our own QWidgets must stay out
// of every list and every image.
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureError.h"
#include "Errors/AIError.h"
#include "Platform/Linux/X11CaptureOwnWindows.h"
#include "Platform/Linux/X11ScreenCapture.h"
#include "QtWait.h"

#include <QElapsedTimer>
#include <QPalette>
#include <QThread>
#include <QProcess>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace brevalto {
namespace {

// A top-level window of another client, filled by the server with one colour.
class ForeignWindow {
public:
    ForeignWindow(const QRect& rect, QRgb color, const QByteArray& title, const QByteArray& cls, qint64 pid) {
        c_ = xcb_connect(nullptr, nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        id_ = xcb_generate_id(c_);
        const std::uint32_t values[] = {color & 0xffffffu};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id_, screen->root, std::int16_t(rect.x()), std::int16_t(rect.y()),
                          std::uint16_t(rect.width()), std::uint16_t(rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL, values);
        setProperty("_NET_WM_NAME", "UTF8_STRING", 8, title.size(), title.constData());
        setProperty("WM_NAME", "STRING", 8, title.size(), title.constData());
        const QByteArray wmClass = cls.toLower() + '\0' + cls + '\0';
        setProperty("WM_CLASS", "STRING", 8, wmClass.size(), wmClass.constData());
        const std::uint32_t pid32 = std::uint32_t(pid);
        setProperty("_NET_WM_PID", "CARDINAL", 32, 1, &pid32);
        // Ask the window manager to keep the position we chose (USPosition | USSize).
        std::uint32_t hints[18] = {};
        hints[0] = 1 | 2;
        hints[1] = std::uint32_t(rect.x());
        hints[2] = std::uint32_t(rect.y());
        hints[3] = std::uint32_t(rect.width());
        hints[4] = std::uint32_t(rect.height());
        setProperty("WM_NORMAL_HINTS", "WM_SIZE_HINTS", 32, 18, hints);
        xcb_map_window(c_, id_);
        xcb_flush(c_);
    }
    ~ForeignWindow() {
        xcb_destroy_window(c_, id_);
        xcb_flush(c_);
        xcb_disconnect(c_);
    }
    std::uint32_t id() const { return id_; }
    void raise() {
        const std::uint32_t above[] = {XCB_STACK_MODE_ABOVE};
        xcb_configure_window(c_, id_, XCB_CONFIG_WINDOW_STACK_MODE, above);
        xcb_flush(c_);
    }
    // The client area in root pixels, as the server has it now.
    QRect clientRect() {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        auto* t = xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, id_, screen->root, 0, 0), nullptr);
        auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, id_), nullptr);
        QRect r;
        if (t && g) r = QRect(t->dst_x, t->dst_y, g->width, g->height);
        std::free(t);
        std::free(g);
        return r;
    }

private:
    xcb_atom_t atom(const char* name) {
        auto* r = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : XCB_NONE;
        std::free(r);
        return a;
    }
    void setProperty(const char* name, const char* type, int format, int count, const void* data) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id_, atom(name), atom(type), std::uint8_t(format),
                            std::uint32_t(count), data);
    }

    xcb_connection_t* c_ = nullptr;
    xcb_window_t id_ = 0;
};

// Counts how often a widget was hidden.
class HideCounter : public QObject {
public:
    explicit HideCounter(QWidget& widget) { widget.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Hide) ++count;
        return false;
    }
    int count = 0;
};

class CaptureX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        owner_.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        ASSERT_TRUE(owner_.waitForStarted());
    }
    void TearDown() override {
        owner_.kill();
        owner_.waitForFinished();
    }

    std::optional<ScreenCaptureWindow> listed(std::uint32_t id) {
        for (const auto& w : capture_.windows()) {
            if (w.id == id) return w;
        }
        return std::nullopt;
    }
    // Waits until the window manager has mapped and framed the window and left it in place for
    // a moment; its client area is where the manager put it.
    bool shown(ForeignWindow& window) {
        std::optional<ScreenCaptureWindow> last;
        int steady = 0;
        return waitUntil([&] {
            auto w = listed(window.id());
            const bool framed = w && w->onScreen && w->frame.contains(window.clientRect()) &&
                                w->frame != QRectF(window.clientRect());
            steady = framed && last && *w == *last ? steady + 1 : 0;
            last = w;
            if (steady < 5) QThread::msleep(10);
            return steady >= 5;
        });
    }
    // The one colour of every pixel of the image, or 0 when they differ.
    static QRgb uniform(const QImage& image) {
        const QRgb first = image.pixel(0, 0);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) != first) return 0;
            }
        }
        return first;
    }

    QProcess owner_;
    X11ScreenCapture capture_;
    CaptureEngine engine_{capture_};
};

constexpr QRgb teal = 0xff118877;
constexpr QRgb orange = 0xffee8822;

TEST_F(CaptureX11Test, ListsForeignWindowsWithTheirDetailsButNotOurOwn) {
    QWidget own;
    own.setWindowTitle(QStringLiteral("Brevalto own window"));
    own.setGeometry(600, 400, 200, 150);
    own.show();
    ForeignWindow window(QRect(100, 120, 300, 200), teal, "Known colour \xe2\x80\x94 test", "CaptureProbe",
                         owner_.processId());
    ASSERT_TRUE(shown(window));
    ASSERT_TRUE(waitUntil([&] { return own.isVisible() && own.windowHandle()->isExposed(); }));

    const auto w = listed(window.id());
    ASSERT_TRUE(w);
    EXPECT_EQ(w->title, QStringLiteral("Known colour \u2014 test"));
    EXPECT_EQ(w->appClass, QStringLiteral("CaptureProbe"));
    EXPECT_EQ(w->processId, owner_.processId());
    EXPECT_TRUE(w->ordinary());
    EXPECT_TRUE(w->frame.contains(QRectF(window.clientRect())));
    EXPECT_EQ(window.clientRect().size(), QSize(300, 200));
    for (const auto& other : capture_.windows()) {
        EXPECT_NE(other.id, own.winId()) << "our own window is listed";
        EXPECT_NE(other.processId, QCoreApplication::applicationPid());
    }
    EXPECT_EQ(engine_.frontWindowID(owner_.processId()), window.id());
}

TEST_F(CaptureX11Test, DisplayShotShowsTheWindowAndHidesOurOwn) {
    ForeignWindow window(QRect(200, 150, 320, 240), teal, "Display shot probe", "CaptureProbe", owner_.processId());
    ASSERT_TRUE(shown(window));
    QWidget own;
    own.setWindowFlag(Qt::FramelessWindowHint);
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(255, 0, 0));
    own.setPalette(palette);
    own.setAutoFillBackground(true);
    const QRect client = window.clientRect();
    own.setGeometry(client.x() + 50, client.y() + 50, 100, 80);
    own.show();
    QWidget far;  // ours too, but away from the shot: left alone
    far.setWindowFlag(Qt::FramelessWindowHint);
    far.setGeometry(1500, 800, 100, 80);
    far.show();
    ASSERT_TRUE(waitUntil([&] { return own.windowHandle() && own.windowHandle()->isExposed(); }));
    ASSERT_TRUE(waitUntil([&] { return far.windowHandle() && far.windowHandle()->isExposed(); }));
    HideCounter ownHides(own), farHides(far);

    const auto displays = engine_.displays();
    ASSERT_FALSE(displays.empty());
    const CaptureDisplay& display = displays.front();
    // The client area in global bottom-left points on a display of scale 1.
    const QRectF area(client.x(), display.frame.height() - client.y() - client.height(), client.width(),
                      client.height());
    const auto shot = engine_.captureRect({display}, CaptureRequest{}, area);
    ASSERT_EQ(shot.image.size(), QSize(320, 240));
    EXPECT_EQ(uniform(shot.image), teal);
    EXPECT_EQ(shot.screenRect, area);
    EXPECT_TRUE(own.isVisible()) << "our window comes back after the shot";
    EXPECT_EQ(ownHides.count, 1);
    EXPECT_EQ(farHides.count, 0);

    const auto whole = engine_.captureDisplayImage(display, CaptureRequest{}, std::nullopt);
    EXPECT_EQ(whole.image.size(), display.pixelSize.toSize());
    EXPECT_EQ(whole.image.pixel(client.topLeft() + QPoint(60, 60)), teal);
}

TEST_F(CaptureX11Test, WindowShotIsTheWholeWindowEvenWhenCovered) {
    ForeignWindow window(QRect(300, 200, 260, 180), teal, "Window shot probe", "CaptureProbe", owner_.processId());
    ASSERT_TRUE(shown(window));
    ForeignWindow cover(QRect(380, 250, 300, 300), orange, "Cover", "CaptureCover", owner_.processId());
    ASSERT_TRUE(shown(cover));
    cover.raise();

    const auto w = listed(window.id());
    ASSERT_TRUE(w);
    const auto shot = engine_.captureWindowImage(*w, CaptureRequest{});
    EXPECT_EQ(shot.windowID, window.id());
    EXPECT_EQ(shot.image.size(), w->frame.size().toSize());
    const QRect client = window.clientRect().translated(-w->frame.topLeft().toPoint());
    EXPECT_EQ(uniform(shot.image.copy(client)), teal) << "the covered part of the window is in the shot";
}

TEST_F(CaptureX11Test, ClosedWindowAndMissingWallpaperFailWithTheirMessages) {
    ScreenCaptureWindow gone;
    {
        ForeignWindow window(QRect(50, 60, 120, 90), teal, "Short-lived", "CaptureProbe", owner_.processId());
        ASSERT_TRUE(shown(window));
        gone = *listed(window.id());
    }
    ASSERT_TRUE(waitUntil([&] { return !listed(gone.id); }));
    try {
        engine_.captureWindowImage(gone, CaptureRequest{});
        FAIL() << "a closed window was captured";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.kind(), CaptureError::Kind::unavailableTarget);
    }

    EXPECT_TRUE(capture_.wallpaper(engine_.displays().front().id).isNull());
}


TEST_F(CaptureX11Test, PointerIsDrawnInOnlyWhenAsked) {
    ForeignWindow window(QRect(500, 300, 400, 300), teal, "Pointer probe", "CaptureProbe", owner_.processId());
    ASSERT_TRUE(shown(window));
    const QPoint at = window.clientRect().center();
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_warp_pointer(c, XCB_NONE, root, 0, 0, 0, 0, std::int16_t(at.x()), std::int16_t(at.y()));
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);

    const CaptureDisplay display = engine_.displays().front();
    const QRectF around(at.x() - 32, display.frame.height() - at.y() - 32, 64, 64);
    CaptureRequest request;
    EXPECT_EQ(uniform(engine_.captureRect({display}, request, around).image), teal);
    request.includesCursor = true;
    EXPECT_EQ(uniform(engine_.captureRect({display}, request, around).image), 0u) << "no pointer in the shot";
}

TEST_F(CaptureX11Test, WallpaperComesFromTheRootPixmap) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    auto atom = [&](const char* name) {
        auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r->atom;
        std::free(r);
        return a;
    };
    // What a desktop setter does: paint a root-sized pixmap and publish its id.
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pixmap, screen->root, screen->width_in_pixels, screen->height_in_pixels);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    const std::uint32_t foreground[] = {orange & 0xffffffu};
    xcb_create_gc(c, gc, pixmap, XCB_GC_FOREGROUND, foreground);
    const xcb_rectangle_t all = {0, 0, screen->width_in_pixels, screen->height_in_pixels};
    xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, screen->root, atom("_XROOTPMAP_ID"), XCB_ATOM_PIXMAP, 32, 1, &pixmap);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    const CaptureDisplay display = engine_.displays().front();
    const QImage wallpaper = capture_.wallpaper(display.id);
    EXPECT_EQ(wallpaper.size(), display.pixelSize.toSize());
    EXPECT_EQ(uniform(wallpaper), orange);

    // A stale id (its setter gone) reads as no wallpaper.
    xcb_free_pixmap(c, pixmap);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    EXPECT_TRUE(capture_.wallpaper(display.id).isNull());
    xcb_delete_property(c, screen->root, atom("_XROOTPMAP_ID"));
    xcb_disconnect(c);
}

TEST(CaptureX11NoDisplayTest, WithoutADisplayCaptureIsNotPermitted) {
    X11ScreenCapture none(":9999");  // no server there
    EXPECT_FALSE(none.hasPermission());
    EXPECT_TRUE(none.displays().empty());
    EXPECT_TRUE(none.windows().empty());
    CaptureEngine engine(none);
    try {
        engine.displays();
        FAIL() << "capture without a display";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.kind(), CaptureError::Kind::permissionDenied);
    }
}

// The child of the root holding a window of ours (the window manager's frame), and whether it is
// on screen, as a connection of the test's own sees them.
xcb_window_t topLevel(xcb_connection_t* c, xcb_window_t window) {
    for (;;) {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        if (!tree) return XCB_NONE;
        const bool top = tree->parent == tree->root;
        const xcb_window_t parent = tree->parent;
        std::free(tree);
        if (top) return window;
        window = parent;
    }
}

bool onScreen(xcb_connection_t* c, xcb_window_t window) {
    auto* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(a);
    return viewable;
}

TEST_F(CaptureX11Test, AGrabWaitsForTheFrameOfAWindowOfOursThatWentOnlyWhileItIsOnScreen) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    QWidget prompt;
    prompt.setWindowTitle(QStringLiteral("Brevalto prompt"));
    prompt.setGeometry(300, 300, 240, 120);
    const QRect screen(0, 0, 1920, 1080);
    xcb_window_t frame = XCB_NONE;
    auto showFramed = [&] {
        prompt.show();
        return waitUntil([&] {
            frame = topLevel(c, xcb_window_t(prompt.winId()));
            return frame != XCB_NONE && frame != prompt.winId() && onScreen(c, frame);
        });
    };

    // Its frame already down: no moment for the windows below to repaint (a long one here).
    ASSERT_TRUE(showFramed());
    prompt.hide();
    ASSERT_TRUE(waitUntil([&] { return !onScreen(c, frame); }));
    QElapsedTimer elapsed;
    elapsed.start();
    { X11CaptureOwnWindows hidden(screen, std::chrono::seconds(6)); }
    EXPECT_LT(elapsed.elapsed(), 3000) << "the grab waited although nothing of ours was on screen";

    // Gone while the window manager stands still, its frame still up: the grab waits for it.
    ASSERT_TRUE(showFramed());
    const pid_t manager = qEnvironmentVariableIntValue("BREVALTO_TEST_WM_PID");
    ASSERT_GT(manager, 0);
    ::kill(manager, SIGSTOP);
    std::atomic<bool> resumed = false;
    std::thread resume([&] {
        QThread::msleep(300);
        resumed = true;
        ::kill(manager, SIGCONT);
    });
    prompt.hide();
    { X11CaptureOwnWindows hidden(screen, std::chrono::milliseconds(0)); }
    const bool waited = resumed;
    resume.join();
    EXPECT_TRUE(waited) << "the grab went ahead with our frame on screen";
    xcb_disconnect(c);
}

// Runs last: it splits the screen into two monitors, the right one primary.
TEST_F(CaptureX11Test, MonitorsArePrimaryFirstAndShotAtTheirOffsets) {
    ForeignWindow left(QRect(600, 50, 420, 400), teal, "Left", "CaptureProbe", owner_.processId());
    ForeignWindow right(QRect(1080, 50, 420, 400), orange, "Right", "CaptureProbe", owner_.processId());
    ASSERT_TRUE(shown(left));
    ASSERT_TRUE(shown(right));
    const auto run = [](const QString& args) {
        return QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), args});
    };
    ASSERT_EQ(run(QStringLiteral("(xrandr --setmonitor probe-left 960/254x1080/286+0+0 none && "
                                 "xrandr --setmonitor '*probe-right' 960/254x1080/286+960+0 screen) >/dev/null")),
              0);
    const auto displays = engine_.displays();
    const auto shot = engine_.captureRect(displays, CaptureRequest{}, QRectF(900, 1080 - 200, 400, 100));
    run(QStringLiteral("(xrandr --delmonitor probe-left; xrandr --delmonitor probe-right) >/dev/null 2>&1"));
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0].frame, QRectF(960, 0, 960, 1080));
    EXPECT_EQ(displays[1].frame, QRectF(0, 0, 960, 1080));
    EXPECT_NE(displays[0].identity, displays[1].identity);
    // Root columns 900...1300: the left window across the two monitors' border at 960, then
    // the right window.
    ASSERT_EQ(shot.image.size(), QSize(400, 100));
    EXPECT_EQ(shot.image.pixel(0, 50), teal);
    EXPECT_EQ(shot.image.pixel(59, 50), teal);
    EXPECT_EQ(shot.image.pixel(60, 50), teal);
    EXPECT_EQ(shot.image.pixel(100, 50), teal);
    EXPECT_EQ(shot.image.pixel(399, 50), orange);
    EXPECT_EQ(shot.displayID, displays[0].id);
}

}  // namespace
}  // namespace brevalto
