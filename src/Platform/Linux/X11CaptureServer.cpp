#include "Platform/Linux/X11CaptureServer.h"
#include "Platform/Linux/X11Connection.h"

#include <QPainter>

#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>
#include <xcb/composite.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

namespace brevalto {

namespace {

template <class T>
using Reply = XcbReply<T>;

const xcb_visualtype_t* findVisual(const xcb_setup_t* setup, xcb_visualid_t id) {
    for (auto s = xcb_setup_roots_iterator(setup); s.rem; xcb_screen_next(&s)) {
        for (auto d = xcb_screen_allowed_depths_iterator(s.data); d.rem; xcb_depth_next(&d)) {
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->visual_id == id) return v.data;
            }
        }
    }
    return nullptr;
}

const xcb_format_t* findFormat(const xcb_setup_t* setup, int depth) {
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == depth) return f.data;
    }
    return nullptr;
}

// Scales a masked channel to 0...255.
inline std::uint32_t channel(std::uint32_t pixel, std::uint32_t mask) {
    if (!mask) return 0;
    const int shift = std::countr_zero(mask);
    const std::uint32_t max = mask >> shift;
    return ((pixel & mask) >> shift) * 255 / max;
}

// dst = src | bits for one row. The target is written with streaming stores: it is not read
// back soon, and bypassing the cache nearly halves the cost of a screen-sized copy. Callers
// fence once after the last row.
inline void copyRow(const std::uint32_t* __restrict src, std::uint32_t* __restrict dst, int width, std::uint32_t bits) {
    int x = 0;
#if defined(__SSE2__)
    for (; x < width && (reinterpret_cast<std::uintptr_t>(dst + x) & 15u) != 0; ++x) dst[x] = src[x] | bits;
    const __m128i mask = _mm_set1_epi32(static_cast<int>(bits));
    for (; x + 4 <= width; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + x), _mm_or_si128(v, mask));
    }
#endif
    for (; x < width; ++x) dst[x] = src[x] | bits;
}

double rotationDegrees(std::uint16_t rotation) {
    if (rotation & XCB_RANDR_ROTATION_ROTATE_90) return 90;
    if (rotation & XCB_RANDR_ROTATION_ROTATE_180) return 180;
    if (rotation & XCB_RANDR_ROTATION_ROTATE_270) return 270;
    return 0;
}

}  // namespace

X11CaptureServer::X11CaptureServer(const char* displayName) {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(displayName, &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        return;
    }
    connection_ = c;
    setup_ = xcb_get_setup(c);
    auto it = xcb_setup_roots_iterator(setup_);
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    root_ = it.data->root;
    rootDepth_ = it.data->root_depth;
    rootWidth_ = it.data->width_in_pixels;
    rootHeight_ = it.data->height_in_pixels;

    auto randrCookie = xcb_randr_query_version(c, 1, 5);
    auto shmCookie = xcb_shm_query_version(c);
    auto compositeCookie = xcb_composite_query_version(c, 0, 4);
    auto xfixesCookie = xcb_xfixes_query_version(c, 4, 0);
    if (Reply<xcb_randr_query_version_reply_t> r{xcb_randr_query_version_reply(c, randrCookie, nullptr)}) {
        randr_ = r->major_version > 1 || (r->major_version == 1 && r->minor_version >= 5);
    }
    if (Reply<xcb_shm_query_version_reply_t> r{xcb_shm_query_version_reply(c, shmCookie, nullptr)}) shm_ = true;
    if (Reply<xcb_composite_query_version_reply_t> r{xcb_composite_query_version_reply(c, compositeCookie, nullptr)}) {
        composite_ = r->major_version > 0 || r->minor_version >= 2;
    }
    if (Reply<xcb_xfixes_query_version_reply_t> r{xcb_xfixes_query_version_reply(c, xfixesCookie, nullptr)}) {
        xfixes_ = true;
    }
}

X11CaptureServer::~X11CaptureServer() {
    if (!connection_) return;
    releaseSegment();
    xcb_disconnect(connection_);
}

QRect X11CaptureServer::rootRect() const {
    if (!connection_) return {};
    // The root grows and shrinks with RandR: read its current size.
    Reply<xcb_get_geometry_reply_t> g{
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, root_), nullptr)};
    return g ? QRect(0, 0, g->width, g->height) : QRect(0, 0, rootWidth_, rootHeight_);
}

xcb_atom_t X11CaptureServer::atom(const char* name) {
    auto found = atoms_.find(name);
    if (found != atoms_.end()) return found->second;
    Reply<xcb_intern_atom_reply_t> r{xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr)};
    const xcb_atom_t value = r ? r->atom : XCB_NONE;
    atoms_[name] = value;
    return value;
}

void X11CaptureServer::sync() {
    free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    drainEvents();
}

void X11CaptureServer::drainEvents() {
    // Nothing is selected on this connection; what arrives are errors of requests whose outcome
    // is judged otherwise (a window that went away meanwhile). Drop them so they do not pile up.
    if (!connection_) return;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) free(event);
}

std::vector<X11CaptureServer::Monitor> X11CaptureServer::monitors(bool details) {
    std::vector<Monitor> result;
    if (!connection_) return result;
    if (!randr_) {
        Monitor whole;
        whole.id = root_;
        whole.name = QStringLiteral("screen");
        whole.rect = rootRect();
        whole.primary = true;
        result.push_back(whole);
        return result;
    }
    // The details of the outputs seen last time are asked for together with the monitors; they
    // are used only for the outputs (and CRTCs) the answer still names, the rest is asked anew.
    struct Asked {
        xcb_randr_output_t output = XCB_NONE;
        xcb_randr_crtc_t crtc = XCB_NONE;
        xcb_randr_get_output_property_cookie_t edid{};
        xcb_randr_get_output_info_cookie_t info{};
        std::optional<xcb_randr_get_crtc_info_cookie_t> crtcInfo;
        bool used = false;
    };
    const xcb_atom_t edidAtom = details ? atom("EDID") : XCB_NONE;
    const auto ask = [&](xcb_randr_output_t output, xcb_randr_crtc_t crtc) {
        Asked a;
        a.output = output;
        a.crtc = crtc;
        a.edid = xcb_randr_get_output_property(connection_, output, edidAtom, XCB_GET_PROPERTY_TYPE_ANY, 0, 256, 0, 0);
        a.info = xcb_randr_get_output_info(connection_, output, XCB_CURRENT_TIME);
        if (crtc != XCB_NONE) a.crtcInfo = xcb_randr_get_crtc_info(connection_, crtc, XCB_CURRENT_TIME);
        return a;
    };
    const auto monitorsCookie = xcb_randr_get_monitors(connection_, root_, 1);
    std::vector<Asked> asked;
    if (details)
        for (const auto& [output, crtc] : lastOutputs_) asked.push_back(ask(output, crtc));
    const auto discardUnused = [&] {
        for (const Asked& a : asked) {
            if (!a.used) {
                xcb_discard_reply(connection_, a.edid.sequence);
                xcb_discard_reply(connection_, a.info.sequence);
            }
            if (a.crtcInfo) xcb_discard_reply(connection_, a.crtcInfo->sequence);
        }
    };
    Reply<xcb_randr_get_monitors_reply_t> reply{xcb_randr_get_monitors_reply(connection_, monitorsCookie, nullptr)};
    if (!reply) {
        discardUnused();
        return result;
    }

    std::vector<std::optional<xcb_get_atom_name_cookie_t>> names;
    std::vector<xcb_atom_t> nameAtoms;
    std::vector<xcb_randr_output_t> firstOutputs;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem; xcb_randr_monitor_info_next(&it)) {
        const auto* m = it.data;
        Monitor monitor;
        monitor.rect = QRect(m->x, m->y, m->width, m->height);
        monitor.primary = m->primary != 0;
        const int outputs = xcb_randr_monitor_info_outputs_length(m);
        const xcb_randr_output_t output = outputs > 0 ? xcb_randr_monitor_info_outputs(m)[0] : XCB_NONE;
        // A monitor without outputs is known by its name atom, marked so that it can never equal
        // an output's id (both are 29-bit numbers).
        monitor.id = output != XCB_NONE ? output : (m->name | 0x80000000u);
        firstOutputs.push_back(output);
        nameAtoms.push_back(m->name);
        if (details)
            names.push_back(atomNames_.count(m->name) ? std::nullopt
                                                      : std::optional(xcb_get_atom_name(connection_, m->name)));
        result.push_back(monitor);
    }
    const auto primaryFirst = [&result] {
        std::stable_sort(result.begin(), result.end(), [](const Monitor& a, const Monitor& b) { return a.primary > b.primary; });
    };
    if (!details) {
        primaryFirst();
        return result;
    }

    std::vector<std::size_t> detailOf(result.size(), SIZE_MAX);
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (firstOutputs[i] == XCB_NONE) continue;
        auto same = std::find_if(asked.begin(), asked.end(),
                                 [&](const Asked& a) { return !a.used && a.output == firstOutputs[i]; });
        if (same == asked.end()) {
            asked.push_back(ask(firstOutputs[i], XCB_NONE));
            same = asked.end() - 1;
        }
        same->used = true;
        detailOf[i] = static_cast<std::size_t>(same - asked.begin());
    }
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (names[i]) {
            if (Reply<xcb_get_atom_name_reply_t> n{xcb_get_atom_name_reply(connection_, *names[i], nullptr)})
                atomNames_[nameAtoms[i]] =
                    QString::fromUtf8(xcb_get_atom_name_name(n.get()), xcb_get_atom_name_name_length(n.get()));
        }
        if (auto known = atomNames_.find(nameAtoms[i]); known != atomNames_.end()) result[i].name = known->second;
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (detailOf[i] == SIZE_MAX) continue;
        Asked& a = asked[detailOf[i]];
        if (Reply<xcb_randr_get_output_property_reply_t> p{
                xcb_randr_get_output_property_reply(connection_, a.edid, nullptr)}) {
            result[i].edid = QByteArray(reinterpret_cast<const char*>(xcb_randr_get_output_property_data(p.get())),
                                        xcb_randr_get_output_property_data_length(p.get()));
        }
        xcb_randr_crtc_t crtc = XCB_NONE;
        if (Reply<xcb_randr_get_output_info_reply_t> info{xcb_randr_get_output_info_reply(connection_, a.info, nullptr)})
            crtc = info->crtc;
        if (crtc != XCB_NONE) {
            // The CRTC asked about ahead is used only when the output still shows through it.
            const auto cookie = a.crtcInfo && a.crtc == crtc ? *std::exchange(a.crtcInfo, std::nullopt)
                                                             : xcb_randr_get_crtc_info(connection_, crtc, XCB_CURRENT_TIME);
            if (Reply<xcb_randr_get_crtc_info_reply_t> info{xcb_randr_get_crtc_info_reply(connection_, cookie, nullptr)})
                result[i].rotation = rotationDegrees(info->rotation);
        }
        seen.emplace_back(a.output, crtc);
    }
    discardUnused();
    lastOutputs_ = std::move(seen);
    primaryFirst();
    return result;
}

xcb_get_property_cookie_t X11CaptureServer::requestProperty(xcb_window_t window, xcb_atom_t property,
                                                            std::uint32_t maxBytes) {
    return xcb_get_property(connection_, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, (maxBytes + 3) / 4);
}

X11CaptureServer::Property X11CaptureServer::takeProperty(xcb_get_property_cookie_t cookie) {
    Property result;
    Reply<xcb_get_property_reply_t> r{xcb_get_property_reply(connection_, cookie, nullptr)};
    if (!r || r->type == XCB_NONE) return result;
    result.type = r->type;
    result.format = r->format;
    result.bytes = QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                              xcb_get_property_value_length(r.get()));
    return result;
}

bool X11CaptureServer::ensureSegment(std::size_t bytes) {
    if (segmentMemory_ && segmentSize_ >= bytes) return true;
    releaseSegment();
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) return false;
    void* memory = shmat(id, nullptr, 0);
    if (memory == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const xcb_shm_seg_t seg = xcb_generate_id(connection_);
    xcb_generic_error_t* error = xcb_request_check(connection_, xcb_shm_attach_checked(connection_, seg, id, 0));
    // Once the server holds it, the segment may be marked for removal: it goes when both detach.
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        free(error);
        shmdt(memory);
        shm_ = false;  // a server that cannot attach (another host) will never do so
        return false;
    }
    segment_ = seg;
    segmentMemory_ = memory;
    segmentSize_ = bytes;
    return true;
}

void X11CaptureServer::releaseSegment() {
    if (!segmentMemory_) return;
    xcb_shm_detach(connection_, segment_);
    xcb_flush(connection_);
    shmdt(segmentMemory_);
    segmentMemory_ = nullptr;
    segmentSize_ = 0;
}

bool X11CaptureServer::readShm(xcb_drawable_t drawable, const QRect& rect, int depth, QImage& target,
                               const QPoint& at, bool& ok) {
    const xcb_format_t* format = findFormat(setup_, depth);
    if (!format || format->bits_per_pixel != 32) return false;
    const std::size_t bytes = std::size_t(rect.width()) * rect.height() * 4;
    if (!ensureSegment(bytes)) return false;
    Reply<xcb_shm_get_image_reply_t> r{xcb_shm_get_image_reply(
        connection_,
        xcb_shm_get_image(connection_, drawable, static_cast<std::int16_t>(rect.x()), static_cast<std::int16_t>(rect.y()),
                          static_cast<std::uint16_t>(rect.width()), static_cast<std::uint16_t>(rect.height()), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, segment_, 0),
        nullptr)};
    // A refused area gets no image, and no use trying again without SHM.
    ok = r && convert(static_cast<const std::uint8_t*>(segmentMemory_), std::min<std::size_t>(r->size, bytes),
                      rect.size(), depth, r->visual, target, at);
    return true;
}

bool X11CaptureServer::read(xcb_drawable_t drawable, const QRect& rect, int depth, QImage& target, const QPoint& at,
                            bool useShm) {
    if (!connection_ || rect.isEmpty() || rect.width() > 32767 || rect.height() > 32767) return false;
    if (target.format() != QImage::Format_ARGB32_Premultiplied || !target.rect().contains(QRect(at, rect.size()))) {
        return false;
    }
    bool ok = false;
    if (useShm && shm_ && readShm(drawable, rect, depth, target, at, ok)) return ok;
    Reply<xcb_get_image_reply_t> r{xcb_get_image_reply(
        connection_,
        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<std::int16_t>(rect.x()),
                      static_cast<std::int16_t>(rect.y()), static_cast<std::uint16_t>(rect.width()),
                      static_cast<std::uint16_t>(rect.height()), ~0u),
        nullptr)};
    return r && convert(xcb_get_image_data(r.get()), std::size_t(xcb_get_image_data_length(r.get())), rect.size(),
                        depth, r->visual, target, at);
}

QImage X11CaptureServer::image(xcb_drawable_t drawable, const QRect& rect, int depth) {
    if (rect.isEmpty()) return {};
    QImage out(rect.size(), QImage::Format_ARGB32_Premultiplied);
    if (out.isNull() || !read(drawable, rect, depth, out, QPoint(0, 0), true)) return {};
    return out;
}

QImage X11CaptureServer::plainImage(xcb_drawable_t drawable, const QRect& rect, int depth) {
    if (rect.isEmpty()) return {};
    QImage out(rect.size(), QImage::Format_ARGB32_Premultiplied);
    if (out.isNull() || !read(drawable, rect, depth, out, QPoint(0, 0), false)) return {};
    return out;
}

bool X11CaptureServer::convert(const std::uint8_t* data, std::size_t length, const QSize& size, int depth,
                               xcb_visualid_t visual, QImage& target, const QPoint& at) {
    const xcb_format_t* format = findFormat(setup_, depth);
    const xcb_visualtype_t* vt = findVisual(setup_, visual);
    if (!format) return false;
    const int bpp = format->bits_per_pixel;
    const int pad = format->scanline_pad;
    const std::size_t stride = ((std::size_t(size.width()) * bpp + pad - 1) / pad) * pad / 8;
    if (stride * size.height() > length || (bpp != 16 && bpp != 24 && bpp != 32)) return false;

    const std::uint32_t red = vt ? vt->red_mask : 0xff0000u;
    const std::uint32_t green = vt ? vt->green_mask : 0xff00u;
    const std::uint32_t blue = vt ? vt->blue_mask : 0xffu;
    const bool lsb = setup_->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    const bool withAlpha = depth == 32;
    auto row = [&](int y) { return reinterpret_cast<std::uint32_t*>(target.scanLine(at.y() + y)) + at.x(); };

    if (bpp == 32 && lsb && red == 0xff0000u && green == 0xff00u && blue == 0xffu) {
        // The common case: the bytes are already Qt's 0xAARRGGBB in memory order.
        const std::uint32_t opaque = withAlpha ? 0u : 0xff000000u;
        for (int y = 0; y < size.height(); ++y) {
            copyRow(reinterpret_cast<const std::uint32_t*>(data + stride * y), row(y), size.width(), opaque);
        }
#if defined(__SSE2__)
        _mm_sfence();
#endif
        return true;
    }
    const int bytesPerPixel = bpp / 8;
    for (int y = 0; y < size.height(); ++y) {
        const std::uint8_t* line = data + stride * y;
        std::uint32_t* dst = row(y);
        for (int x = 0; x < size.width(); ++x) {
            const std::uint8_t* p = line + std::size_t(x) * bytesPerPixel;
            std::uint32_t pixel = 0;
            for (int b = 0; b < bytesPerPixel; ++b) {
                const int shift = lsb ? 8 * b : 8 * (bytesPerPixel - 1 - b);
                pixel |= std::uint32_t(p[b]) << shift;
            }
            const std::uint32_t alpha = withAlpha ? pixel >> 24 : 0xffu;
            dst[x] = (alpha << 24) | (channel(pixel, red) << 16) | (channel(pixel, green) << 8) | channel(pixel, blue);
        }
    }
    return true;
}

void X11CaptureServer::drawCursor(QImage& image, const QPoint& origin, const QRect& clip) {
    if (!xfixes_ || image.isNull()) return;
    Reply<xcb_xfixes_get_cursor_image_reply_t> r{
        xcb_xfixes_get_cursor_image_reply(connection_, xcb_xfixes_get_cursor_image(connection_), nullptr)};
    if (!r || r->width == 0 || r->height == 0) return;
    if (xcb_xfixes_get_cursor_image_cursor_image_length(r.get()) < int(r->width) * r->height) return;
    // The pointer image is premultiplied ARGB, one 32-bit value per pixel.
    QImage cursor(reinterpret_cast<const uchar*>(xcb_xfixes_get_cursor_image_cursor_image(r.get())), r->width,
                  r->height, r->width * 4, QImage::Format_ARGB32_Premultiplied);
    const QPoint topLeft(r->x - r->xhot - origin.x(), r->y - r->yhot - origin.y());
    if (!QRect(topLeft, cursor.size()).intersects(clip)) return;
    QPainter painter(&image);
    painter.setClipRect(clip);
    painter.drawImage(topLeft, cursor);
}

}  // namespace brevalto
