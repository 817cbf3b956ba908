#include "Platform/Linux/TesseractTextRecognizer.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <QCoreApplication>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <dlfcn.h>
#include <malloc.h>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace brevalto {

namespace {

// Text lines whose boxes are lower than this many pixels are read from an enlarged copy: the
// engine's thresholding loses the strokes of small on-screen text at 1x.
constexpr int kSmallLineHeight = 14;
constexpr int kUpscale = 2;
// Enlarged copies stay below this many pixels.
constexpr qint64 kMaxUpscaledPixels = 32'000'000;
// Initialised engines kept for reuse, over all language lists.
constexpr std::size_t kMaxIdleEngines = 4;
// Pixels per inch of a screen image at 1x.
constexpr int kScreenResolution = 96;
// A page with more text lines than this is read in bands of at most this many lines of one
// block, each band by an engine of its own, several at once. The bands depend on the page alone,
// so the result is the same however many engines read them.
constexpr int kBandLines = 6;
// A line that only the layout at 1x finds is kept when the engine reads it with at least this
// confidence.
constexpr float kMissedLineConfidence = 0.5f;

using Engine = tesseract::TessBaseAPI;

// A grey copy of the image, transparent parts laid over white (text drawn on a transparent
// background stays dark on light).
QImage greyscale(const QImage& image) {
    if (!image.hasAlphaChannel()) return image.convertToFormat(QImage::Format_Grayscale8);
    QImage opaque(image.size(), QImage::Format_RGB32);
    opaque.fill(Qt::white);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, image);
    painter.end();
    return opaque.convertToFormat(QImage::Format_Grayscale8);
}

void setImage(Engine& engine, const QImage& grey, int scale) {
    engine.SetImage(grey.constBits(), grey.width(), grey.height(), 1, static_cast<int>(grey.bytesPerLine()));
    engine.SetSourceResolution(kScreenResolution * scale);
}

// The text lines of the engine's layout analysis, block by block in reading order.
std::vector<std::vector<QRect>> textLines(Engine& engine) {
    std::vector<std::vector<QRect>> blocks;
    std::unique_ptr<tesseract::PageIterator> it(engine.AnalyseLayout());
    if (!it) return blocks;
    do {
        int left = 0, top = 0, right = 0, bottom = 0;
        if (!it->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom)) continue;
        if (blocks.empty() || it->IsAtBeginningOf(tesseract::RIL_BLOCK)) blocks.emplace_back();
        blocks.back().push_back(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
    } while (it->Next(tesseract::RIL_TEXTLINE));
    return blocks;
}

// The median height of the lines; 0 when there are none.
int medianLineHeight(const std::vector<std::vector<QRect>>& blocks) {
    std::vector<int> heights;
    for (const auto& block : blocks)
        for (const QRect& line : block) heights.push_back(line.height());
    if (heights.empty()) return 0;
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    return heights[heights.size() / 2];
}

// A part of the page (pixels of the image the engine reads) holding a run of at most kBandLines
// lines of one block, with a margin; the other lines of the page that reach into it are blanked.
struct Band {
    QRect area;
    std::vector<QRect> blanked;  // within the area
};

// The bands of the page; none when it is small enough to be read whole. Areas start on multiples
// of `scale`, so that their boxes map back to whole pixels of the original image.
std::vector<Band> textBands(const std::vector<std::vector<QRect>>& blocks, int lineHeight, const QRect& page,
                            int scale) {
    std::size_t lines = 0;
    for (const auto& block : blocks) lines += block.size();
    if (lines <= std::size_t(kBandLines)) return {};
    const int margin = std::max(2, lineHeight);
    std::vector<Band> bands;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const auto& block = blocks[b];
        for (std::size_t first = 0; first < block.size(); first += kBandLines) {
            const std::size_t end = std::min(block.size(), first + kBandLines);
            QRect own;
            for (std::size_t i = first; i < end; ++i) own |= block[i];
            Band band;
            band.area = own.adjusted(-margin, -margin, margin, margin).intersected(page);
            band.area.setLeft(band.area.left() / scale * scale);
            band.area.setTop(band.area.top() / scale * scale);
            for (std::size_t o = 0; o < blocks.size(); ++o)
                for (std::size_t i = 0; i < blocks[o].size(); ++i) {
                    const QRect& line = blocks[o][i];
                    if ((o == b && i >= first && i < end) || !line.intersects(band.area)) continue;
                    // Blocks that overlap would be read twice in part: such a page is read whole.
                    if (o != b && line.intersects(own)) return {};
                    band.blanked.push_back(line.intersected(band.area).translated(-band.area.topLeft()));
                }
            bands.push_back(std::move(band));
        }
    }
    return bands;
}

// The band's part of the page, other lines blanked white.
QImage bandImage(const QImage& page, const Band& band) {
    QImage part = page.copy(band.area);
    for (const QRect& other : band.blanked) {
        const QRect r = other.intersected(part.rect());
        for (int y = r.top(); y <= r.bottom(); ++y) std::memset(part.scanLine(y) + r.left(), 255, std::size_t(r.width()));
    }
    return part;
}

// The grey image at twice its size through a cubic (Catmull-Rom) filter. Bilinear enlargement
// softens the edges of small screen text, and the engine's layout analysis then takes letters
// that stand close to a dark area (the desktop around a window, a frame) for part of a picture.
QImage doubled(const QImage& grey) {
    const int w = grey.width(), h = grey.height();
    // The weights, in 128ths, of the source pixels at -2, -1, 0, +1 (even output pixel) and at
    // -1, 0, +1, +2 (odd output pixel) around the pixel an output pixel enlarges.
    static constexpr int kEven[4] = {-3, 29, 111, -9};
    static constexpr int kOdd[4] = {-9, 111, 29, -3};
    const auto at = [](int i, int n) { return std::clamp(i, 0, n - 1); };
    // Horizontal pass into rows of twice the width, kept at 128 times their value.
    std::vector<int> wide(std::size_t(2 * w) * h);
    for (int y = 0; y < h; ++y) {
        const uchar* in = grey.constScanLine(y);
        int* out = wide.data() + std::size_t(y) * 2 * w;
        for (int x = 0; x < w; ++x) {
            int even = 0, odd = 0;
            for (int k = 0; k < 4; ++k) {
                even += kEven[k] * in[at(x - 2 + k, w)];
                odd += kOdd[k] * in[at(x - 1 + k, w)];
            }
            out[2 * x] = even;
            out[2 * x + 1] = odd;
        }
    }
    QImage result(2 * w, 2 * h, QImage::Format_Grayscale8);
    for (int y = 0; y < 2 * h; ++y) {
        const int* weights = y % 2 == 0 ? kEven : kOdd;
        const int first = y / 2 - (y % 2 == 0 ? 2 : 1);
        const int* rows[4];
        for (int k = 0; k < 4; ++k) rows[k] = wide.data() + std::size_t(at(first + k, h)) * 2 * w;
        uchar* out = result.scanLine(y);
        for (int x = 0; x < 2 * w; ++x) {
            int sum = 0;
            for (int k = 0; k < 4; ++k) sum += weights[k] * rows[k][x];
            out[x] = uchar(std::clamp((sum + 8192) >> 14, 0, 255));
        }
    }
    return result;
}

char32_t firstCodePoint(std::string_view s) {
    if (s.empty()) return 0;
    const auto b = static_cast<unsigned char>(s[0]);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int i = 1; i <= extra && i < static_cast<int>(s.size()); ++i) c = (c << 6) | (s[i] & 0x3F);
    return c;
}

char32_t lastCodePoint(std::string_view s) {
    std::size_t start = s.size();
    while (start > 0) {
        --start;
        if ((static_cast<unsigned char>(s[start]) & 0xC0) != 0x80) break;
    }
    return firstCodePoint(s.substr(start));
}

// Scripts written without spaces between words: Han, kana and their punctuation.
bool unspaced(char32_t c) {
    return (c >= 0x3000 && c <= 0x30FF) || (c >= 0x31F0 && c <= 0x31FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) ||
           (c >= 0x20000 && c <= 0x2FFFF);
}

// A box of the engine's image in pixels of the whole image: the engine reads the area, enlarged
// `scale` times, from `origin`.
QRect boxOf(const tesseract::PageIterator& it, tesseract::PageIteratorLevel level, int scale, QPoint origin) {
    int left = 0, top = 0, right = 0, bottom = 0;
    if (!it.BoundingBox(level, &left, &top, &right, &bottom)) return {};
    const int l = left / scale, t = top / scale;
    const int r = (right + scale - 1) / scale, b = (bottom + scale - 1) / scale;
    return QRect(QPoint(l, t), QSize(r - l, b - t)).translated(origin);
}

std::string textOf(const tesseract::ResultIterator& it, tesseract::PageIteratorLevel level) {
    std::unique_ptr<char[]> text(it.GetUTF8Text(level));
    return text ? std::string(text.get()) : std::string();
}

// Lines of the recognised page: words joined by one space (none between two words of an unspaced
// script), each character with its box.
std::vector<RecognizedLine> linesOf(Engine& engine, int scale, QPoint origin) {
    std::vector<RecognizedLine> lines;
    std::unique_ptr<tesseract::ResultIterator> it(engine.GetIterator());
    if (!it) return lines;
    auto finish = [&lines] {
        // A picture the layout took for text reads as spaces alone.
        if (!lines.empty() && lines.back().text.find_first_not_of(' ') == std::string::npos) lines.pop_back();
    };
    do {
        if (it->Empty(tesseract::RIL_SYMBOL)) continue;
        if (lines.empty() || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
            finish();
            RecognizedLine line;
            line.box = boxOf(*it, tesseract::RIL_TEXTLINE, scale, origin);
            line.confidence = std::clamp(it->Confidence(tesseract::RIL_TEXTLINE) / 100.0f, 0.0f, 1.0f);
            lines.push_back(std::move(line));
        }
        RecognizedLine& line = lines.back();
        const std::string symbol = textOf(*it, tesseract::RIL_SYMBOL);
        if (symbol.empty()) continue;
        if (it->IsAtBeginningOf(tesseract::RIL_WORD) && !line.text.empty() &&
            !(unspaced(lastCodePoint(line.text)) && unspaced(firstCodePoint(symbol)))) {
            line.text += ' ';
        }
        RecognizedGlyph glyph;
        glyph.begin = line.text.size();
        line.text += symbol;
        glyph.end = line.text.size();
        glyph.box = boxOf(*it, tesseract::RIL_SYMBOL, scale, origin);
        if (!glyph.box.isEmpty()) line.glyphs.push_back(glyph);
    } while (it->Next(tesseract::RIL_SYMBOL));
    finish();
    return lines;
}

// The lines of the layout at 1x that the reading of the enlarged page left out (the layout of
// the enlarged page can take a line beside a dark area for part of a picture), each read alone
// from the enlarged page and put in reading order: after the last line read above it in its
// columns, else before the first one below it. False when the engine failed or was stopped.
bool addMissedLines(Engine& engine, const QImage& page, int scale, const std::vector<std::vector<QRect>>& layout,
                    int lineHeight, QPoint origin, tesseract::ETEXT_DESC& monitor, std::vector<RecognizedLine>& lines) {
    std::vector<QRect> missed;
    for (const auto& block : layout)
        for (const QRect& line : block) {
            // Taller boxes outline pictures.
            if (line.height() > 3 * lineHeight) continue;
            const QRect box = line.translated(origin);
            const bool read = std::any_of(lines.begin(), lines.end(), [&box](const RecognizedLine& other) {
                const QRect common = other.box.intersected(box);
                return !common.isEmpty() && common.height() * 2 >= box.height();
            });
            if (!read) missed.push_back(box);
        }
    if (missed.empty()) return true;
    engine.SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
    const int margin = std::max(2, lineHeight / 2);
    for (const QRect& box : missed) {
        QRect area = box.translated(-origin).adjusted(-margin, -margin, margin, margin);
        area = QRect(area.topLeft() * scale, area.size() * scale).intersected(page.rect());
        setImage(engine, page.copy(area), scale);
        if (engine.Recognize(&monitor) != 0) return false;
        for (RecognizedLine& found : linesOf(engine, scale, origin + area.topLeft() / scale)) {
            // Parts of the lines above and below that reach into the margin.
            const int middle = found.box.center().y();
            if (middle < box.top() || middle > box.bottom()) continue;
            // Pictures and frames read alone come back as a few unsure characters.
            if (found.confidence < kMissedLineConfidence) continue;
            const auto sharesColumns = [&found](const RecognizedLine& other) {
                return other.box.left() <= found.box.right() && found.box.left() <= other.box.right();
            };
            auto at = std::find_if(lines.rbegin(), lines.rend(), [&](const RecognizedLine& other) {
                          return other.box.top() < found.box.top() && sharesColumns(other);
                      }).base();
            if (at == lines.begin()) {
                at = std::find_if(lines.begin(), lines.end(), [&](const RecognizedLine& other) {
                    return other.box.top() > found.box.top() && sharesColumns(other);
                });
            }
            lines.insert(at, std::move(found));
        }
    }
    engine.SetPageSegMode(tesseract::PSM_AUTO);
    return true;
}

// The engine runs parts of its work on OpenMP teams of a fixed size, whatever the thread count
// asked for. Our own engines already read independent parts of a page at once, and several engines
// each starting a team spin against each other for the cores: on an idle machine a page took eight
// times as long as when each engine runs its loops on its own thread, which reads a page alone no
// slower. With no active parallel level allowed, every loop runs on the thread that reaches it. The
// function is looked up because the engine may be built without OpenMP.
void oneOpenMPThreadPerEngine() {
    using SetNumber = void (*)(int);
    static const auto setLevels = reinterpret_cast<SetNumber>(::dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
    if (setLevels) setLevels(0);  // every parallel loop of the engine runs on the thread that calls it
}

bool stopRequested(void* stop, int) {
    return static_cast<std::stop_token*>(stop)->stop_requested();
}

}  // namespace

struct TesseractTextRecognizer::Pool : std::enable_shared_from_this<Pool> {
    explicit Pool(std::chrono::milliseconds releaseAfter) : releaseAfter(releaseAfter) {}

    const std::chrono::milliseconds releaseAfter;
    mutable std::mutex mutex;
    std::list<std::pair<std::string, std::unique_ptr<Engine>>> idle;  // most recently used first
    std::uint64_t uses = 0;  // engines put back so far

    std::unique_ptr<Engine> take(const std::string& key) {
        std::lock_guard lock(mutex);
        for (auto it = idle.begin(); it != idle.end(); ++it) {
            if (it->first != key) continue;
            auto engine = std::move(it->second);
            idle.erase(it);
            return engine;
        }
        return nullptr;
    }

    void put(const std::string& key, std::unique_ptr<Engine> engine) {
        engine->Clear();
        std::uint64_t use = 0;
        {
            std::lock_guard lock(mutex);
            idle.emplace_front(key, std::move(engine));
            while (idle.size() > kMaxIdleEngines) idle.pop_back();
            use = ++uses;
        }
        releaseLater(use);
    }

    // An engine holds tens of megabytes: the idle ones go, and their memory back to the system,
    // once no engine was put back for a while (on the application's thread, which owns the timer).
    void releaseLater(std::uint64_t use) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        const std::weak_ptr<Pool> weak = weak_from_this();
        const auto delay = releaseAfter;
        QMetaObject::invokeMethod(
            app,
            [weak, use, delay] {
                QTimer::singleShot(delay, QCoreApplication::instance(), [weak, use] {
                    const auto pool = weak.lock();
                    if (!pool) return;
                    std::list<std::pair<std::string, std::unique_ptr<Engine>>> released;
                    {
                        std::lock_guard lock(pool->mutex);
                        if (pool->uses != use) return;  // used again since: its own release follows
                        released.swap(pool->idle);
                    }
                    released.clear();
                    ::malloc_trim(0);
                });
            },
            Qt::QueuedConnection);
    }
};

TesseractTextRecognizer::TesseractTextRecognizer(std::filesystem::path dataFolder, int workers,
                                                 std::chrono::milliseconds releaseIdleAfter)
    : dataFolder_(std::move(dataFolder)),
      pool_(std::make_shared<Pool>(releaseIdleAfter)),
      workers_(std::max(1, workers)) {}

int TesseractTextRecognizer::defaultWorkers() {
    return int(std::clamp(std::thread::hardware_concurrency() / 2, 1u, unsigned(kMaxIdleEngines)));
}

TesseractTextRecognizer::~TesseractTextRecognizer() = default;

std::filesystem::path TesseractTextRecognizer::defaultDataFolder() {
    if (const char* prefix = std::getenv("TESSDATA_PREFIX"); prefix && *prefix) return prefix;
    return "/usr/share/tesseract-ocr/5/tessdata";
}

const std::vector<TesseractTextRecognizer::Language>& TesseractTextRecognizer::languageTable() {
    static const std::vector<Language> table = {
        {"en-US", "eng"},   {"fr-FR", "fra"}, {"it-IT", "ita"}, {"de-DE", "deu"},   {"es-ES", "spa"},
        {"pt-BR", "por"},   {"zh-Hans", "chi_sim"}, {"zh-Hant", "chi_tra"}, {"ko-KR", "kor"},
        {"ja-JP", "jpn"},   {"ru-RU", "rus"}, {"uk-UA", "ukr"}, {"th-TH", "tha"},   {"vi-VN", "vie"},
        {"ar-SA", "ara"},   {"tr-TR", "tur"}, {"id-ID", "ind"}, {"cs-CZ", "ces"},   {"da-DK", "dan"},
        {"nl-NL", "nld"},   {"no-NO", "nor"}, {"ms-MY", "msa"}, {"pl-PL", "pol"},   {"ro-RO", "ron"},
        {"sv-SE", "swe"},
    };
    return table;
}

std::optional<std::string> TesseractTextRecognizer::dataName(const QString& identifier) {
    for (const auto& language : languageTable()) {
        if (identifier == QLatin1String(language.identifier)) return std::string(language.data);
    }
    return std::nullopt;
}

std::vector<QString> TesseractTextRecognizer::supportedLanguages() {
    std::vector<QString> supported;
    for (const auto& language : languageTable()) {
        std::error_code error;
        const auto file = dataFolder_ / (std::string(language.data) + ".traineddata");
        if (std::filesystem::is_regular_file(file, error)) supported.push_back(QString::fromLatin1(language.identifier));
    }
    return supported;
}

std::vector<RecognizedLine> TesseractTextRecognizer::readText(const QImage& image, const QRect& area,
                                                              const std::vector<QString>& languages,
                                                              std::stop_token stop) {
    if (languages.empty()) throw std::invalid_argument("No recognition language.");
    const auto supported = supportedLanguages();
    std::string key;
    for (const auto& language : languages) {
        const auto name = dataName(language);
        if (!name || std::find(supported.begin(), supported.end(), language) == supported.end()) {
            throw std::invalid_argument("Unsupported recognition language.");
        }
        if (!key.empty()) key += '+';
        key += *name;
    }
    const QRect inside = area.intersected(image.rect());
    if (image.isNull() || inside.isEmpty()) return {};
    if (stop.stop_requested()) throw RecognitionCancelled();

    oneOpenMPThreadPerEngine();
    auto engine = takeEngine(key);

    // The engine reads a copy of the area: its own rectangle setting misplaces the text lines of
    // any rectangle smaller than the image.
    const QImage grey = greyscale(inside == image.rect() ? image : image.copy(inside));
    setImage(*engine, grey, 1);
    const std::vector<std::vector<QRect>> layout = textLines(*engine);
    const int lineHeight = medianLineHeight(layout);
    if (lineHeight == 0) {
        pool_->put(key, std::move(engine));
        return {};
    }
    QImage enlarged;
    int scale = 1;
    if (lineHeight < kSmallLineHeight &&
        qint64(grey.width()) * grey.height() * kUpscale * kUpscale <= kMaxUpscaledPixels) {
        scale = kUpscale;
        enlarged = doubled(grey);
    }
    const QImage& page = scale == 1 ? grey : enlarged;

    tesseract::ETEXT_DESC monitor;
    monitor.cancel = &stopRequested;
    monitor.cancel_this = &stop;
    // The bands come from the layout of the page as the engine reads it (enlarged or not).
    std::vector<Band> bands;
    if (scale == 1) {
        bands = textBands(layout, lineHeight, grey.rect(), 1);
    } else {
        setImage(*engine, page, scale);
        bands = textBands(textLines(*engine), lineHeight * scale, page.rect(), scale);
    }
    if (bands.empty()) {
        setImage(*engine, page, scale);
        const bool failed = engine->Recognize(&monitor) != 0;
        // A stopped engine is dropped rather than reused: it ended in the middle of a page.
        if (stop.stop_requested()) throw RecognitionCancelled();
        if (failed) throw std::runtime_error("Text recognition failed.");
        std::vector<RecognizedLine> lines = linesOf(*engine, scale, inside.topLeft());
        const bool added =
            scale == 1 || addMissedLines(*engine, page, scale, layout, lineHeight, inside.topLeft(), monitor, lines);
        if (stop.stop_requested()) throw RecognitionCancelled();
        if (!added) throw std::runtime_error("Text recognition failed.");
        pool_->put(key, std::move(engine));
        return lines;
    }

    // Independent bands, read by up to `workers_` engines at once, each band's lines kept in
    // place: the same lines in the same order as one engine reading the bands one by one.
    std::vector<std::vector<RecognizedLine>> read(bands.size());
    std::atomic<std::size_t> next = 0;
    std::atomic<bool> failed = false;
    auto work = [&](std::unique_ptr<Engine> own) {
        oneOpenMPThreadPerEngine();
        try {
            if (!own) own = takeEngine(key);
            own->SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
            for (std::size_t i = next++; i < bands.size() && !failed && !stop.stop_requested(); i = next++) {
                const QImage part = bandImage(page, bands[i]);
                setImage(*own, part, scale);
                tesseract::ETEXT_DESC bandMonitor;
                bandMonitor.cancel = &stopRequested;
                bandMonitor.cancel_this = &stop;
                if (own->Recognize(&bandMonitor) != 0) {
                    failed = true;
                    break;
                }
                read[i] = linesOf(*own, scale, inside.topLeft() + bands[i].area.topLeft() / scale);
            }
            own->SetPageSegMode(tesseract::PSM_AUTO);
            if (!failed && !stop.stop_requested()) pool_->put(key, std::move(own));
        } catch (...) {
            failed = true;
        }
    };
    std::vector<std::thread> helpers;
    const int helping = std::min<int>(workers_, int(bands.size())) - 1;
    for (int i = 0; i < helping; ++i) helpers.emplace_back(work, nullptr);
    work(std::move(engine));
    for (std::thread& helper : helpers) helper.join();
    if (stop.stop_requested()) throw RecognitionCancelled();
    if (failed) throw std::runtime_error("Text recognition failed.");
    std::vector<RecognizedLine> lines;
    for (auto& band : read) std::move(band.begin(), band.end(), std::back_inserter(lines));
    if (scale > 1) {
        auto last = takeEngine(key);
        const bool added = addMissedLines(*last, page, scale, layout, lineHeight, inside.topLeft(), monitor, lines);
        if (stop.stop_requested()) throw RecognitionCancelled();
        if (!added) throw std::runtime_error("Text recognition failed.");
        pool_->put(key, std::move(last));
    }
    return lines;
}

std::unique_ptr<tesseract::TessBaseAPI> TesseractTextRecognizer::takeEngine(const std::string& key) {
    if (auto engine = pool_->take(key)) {
        engine->SetPageSegMode(tesseract::PSM_AUTO);
        return engine;
    }
    auto engine = std::make_unique<Engine>();
    if (engine->Init(dataFolder_.c_str(), key.c_str(), tesseract::OEM_LSTM_ONLY) != 0) {
        throw std::runtime_error("The text recognition engine could not start.");
    }
    engine->SetVariable("debug_file", "/dev/null");
    engine->SetPageSegMode(tesseract::PSM_AUTO);
    return engine;
}

std::vector<QString> TesseractTextRecognizer::readQRCodes(const QImage& image, const QRect& area,
                                                          std::stop_token stop) {
    if (stop.stop_requested()) throw RecognitionCancelled();
    const QRect inside = area.intersected(image.rect());
    if (image.isNull() || inside.isEmpty()) return {};
    const QImage grey = greyscale(inside == image.rect() ? image : image.copy(inside));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum,
                                static_cast<int>(grey.bytesPerLine()));
    const auto results = ZXing::ReadBarcodes(view, hints);
    if (stop.stop_requested()) throw RecognitionCancelled();
    std::vector<QString> payloads;
    for (const auto& result : results) {
        if (!result.isValid() || result.contentType() == ZXing::ContentType::Binary) continue;
        payloads.push_back(QString::fromStdString(result.text()));
    }
    return payloads;
}

int TesseractTextRecognizer::idleEngines() const {
    std::lock_guard lock(pool_->mutex);
    return static_cast<int>(pool_->idle.size());
}

}  // namespace brevalto
